#include "plugin/settings_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

std::string describe(const std::string& step, int code) {
    return step + " failed: " + std::generic_category().message(code);
}

// Closed on every way out; close() reports the error a final close can bring.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool close() {
        if (fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a file of this kind and size is, when it is not one to read; empty when it is.
std::string refusalOf(const struct stat& status) {
    if (S_ISREG(status.st_mode)) {
        const auto size = static_cast<std::uint64_t>(status.st_size);
        return size > largestFileRead ? tooLargeToRead(size) : std::string();
    }
    if (S_ISFIFO(status.st_mode)) return "a FIFO (named pipe), not a file";
    if (S_ISDIR(status.st_mode)) return "a folder, not a file";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return "a device, not a file";
    return "not a regular file";
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& contents, std::string& error) {
    contents.clear();
    // Opening a FIFO for reading waits for a writer, a device's open may wait for the device:
    // without O_NONBLOCK neither returns until then. No terminal becomes the simulator's.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) {
        if (errno == ENOENT) return FileRead::missing;
        error = describe("open", errno);
        return FileRead::failed;
    }
    // Asked of what was opened, not of the name, which may name something else by now.
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        error = describe("fstat", errno);
        return FileRead::failed;
    }
    error = refusalOf(status);
    if (!error.empty()) return FileRead::refused;
    return readToEnd(contents, error, [&](char* buffer, std::size_t size) -> std::optional<std::size_t> {
        for (;;) {
            const ssize_t n = ::read(file.get(), buffer, size);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno == EINTR) continue;
            error = describe("read", errno);
            return std::nullopt;
        }
    });
}

FileReplace replaceFileAtomically(const std::string& path, const std::string& contents, std::string& error) {
    // A pilot's link to a settings file kept elsewhere stays a link: the file it names is the
    // one replaced.
    std::string target = path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
    const std::string temporary = target + ".tmp";

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    // Write permission taken away from everyone, root included, is the pilot's lock; root could
    // still write it, so the mode is read rather than asked with access().
    if (existed && (old.st_mode & 0222) == 0) return FileReplace::readOnly;

    // Whatever an earlier save or someone else left under the temporary name (a file, a link,
    // a FIFO, a hard link to another file) is taken away, never opened or written through:
    // the temporary file is always a new regular file of our own.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        error = describe("removing the old " + temporary, errno);
        return FileReplace::failed;
    }
    FileDescriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        error = describe("creating " + temporary, errno);
        return FileReplace::failed;
    }
    auto fail = [&](const char* step, int code) {
        file.close();
        ::unlink(temporary.c_str());
        error = describe(step, code);
        return FileReplace::failed;
    };

    // The replaced file keeps the permissions the pilot gave it.
    if (existed) ::fchmod(file.get(), old.st_mode & 07777);

    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(file.get(), contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("write", n < 0 ? errno : EIO);
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(file.get()) != 0) return fail("fsync", errno);
    if (!file.close()) return fail("close", errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail("rename", errno);

    // The new name reaches the disk with its folder.
    FileDescriptor folder(::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return FileReplace::done;
}
