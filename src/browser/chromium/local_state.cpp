#include "browser/chromium/local_state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace chromium {

namespace {

// Chromium's own file is a few kilobytes; anything far larger is not one we should rewrite.
constexpr off_t largestFile = 4 << 20;

// Writes `text` to `path` through a new file beside it, renamed over it once complete: the
// browser never finds the file half-written, whatever happens meanwhile.
bool replaceFile(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".cv-XXXXXX";
    // mkostemp makes the file for the owner alone, as Chromium keeps it.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot create a file beside it: ") + std::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::string("cannot write it: ") + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::string("cannot replace it: ") + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The file's text, or "" when there is none; false with `error` set when it cannot be read.
bool readFile(const std::string& path, std::string& text, std::string& error) {
    // Not blocking: whatever else might stand at that name must not hold the caller up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > largestFile) {
        error = "it is not a file of Chromium's";
        ::close(fd);
        return false;
    }
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got != text.size()) {
        error = "cannot read it";
        return false;
    }
    return true;
}

}  // namespace

bool askForEnergySaver(const std::string& profile, std::string& error) {
    const std::string path = profile + "/Local State";
    std::string text;
    if (!readFile(path, text, error)) return false;
    nlohmann::json state = text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text, nullptr, false);
    if (!state.is_object()) {
        error = "it is not Chromium's JSON";
        return false;
    }
    nlohmann::json* level = &state;
    for (const char* key : {"performance_tuning", "battery_saver_mode"}) {
        nlohmann::json& next = (*level)[key];
        if (!next.is_object()) next = nlohmann::json::object();
        level = &next;
    }
    nlohmann::json& mode = (*level)["state"];
    if (mode.is_number_integer() && mode.get<long long>() == energySaverAlwaysOn) return true;
    mode = energySaverAlwaysOn;
    try {
        text = state.dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 is kept as it is by the browser, not by us.
        error = "it holds text that is not UTF-8";
        return false;
    }
    return replaceFile(path, text, error);
}

}  // namespace chromium
