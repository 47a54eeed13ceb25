#include "plugin/settings_file.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "plugin/paths.h"
#include "plugin/text_encoding.h"

namespace {

// "step failed: the system's message (error N)", the message in UTF-8 like the rest of the log.
std::string describe(const char* step, DWORD code) {
    std::string text = std::string(step) + " failed: ";
    wchar_t* message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length > 0 && message != nullptr) {
        std::string utf8 = toUtf8(std::wstring_view(message, length));
        while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) utf8.pop_back();
        text += utf8 + " ";
    }
    if (message != nullptr) LocalFree(message);
    return text + "(error " + std::to_string(code) + ")";
}

// Closed on every way out; close() reports the error a final close can bring.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool close() {
        if (!valid()) return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

// Antivirus scanners and the search indexer open a new file for a moment as soon as it is
// written; while they hold it, replacing or removing it is refused. The save tries again for
// up to this long in all (the simulator is quitting and waits for it).
constexpr ULONGLONG refusedRetryMs = 1000;
constexpr DWORD refusedPauseMs = 50;

bool refusedForAMoment(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED || code == ERROR_LOCK_VIOLATION;
}

// Runs `attempt` until it succeeds, fails for another reason or the time is up; the error of
// the last attempt otherwise.
template <typename Attempt>
DWORD retryWhileRefused(ULONGLONG deadline, Attempt attempt) {
    for (;;) {
        if (attempt()) return ERROR_SUCCESS;
        const DWORD code = GetLastError();
        if (!refusedForAMoment(code) || GetTickCount64() + refusedPauseMs > deadline) return code;
        Sleep(refusedPauseMs);
    }
}

// The file a link (a symbolic link or a junction on the way) finally names; the path itself
// when it names no file yet.
std::wstring finalPathOf(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) return path;
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return path;
        if (n < final.size()) {
            final.resize(n);
            return final;
        }
        final.resize(n);
    }
}

// The path for the wide calls; empty, with `error` saying why, when it is not valid text.
std::wstring widePathOf(const std::string& path, std::string& error) {
    std::wstring wide = toWidePath(path);
    if (wide.empty()) error = "the path is not valid text";
    return wide;
}

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& contents, std::string& error) {
    contents.clear();
    const std::wstring widePath = widePathOf(path, error);
    if (widePath.empty()) return FileRead::failed;
    // Shared as the C library's fopen shares: a file another program holds without sharing
    // (an editor, a virus scan) fails here, which is not a missing file. Opening a pipe does
    // not wait (a busy one fails at once) and, anonymous, tells its server nothing of the
    // simulator's user; reading a pipe or a device could wait for ever, so only a file on a
    // disk is read.
    FileHandle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FileRead::missing;
        error = describe("CreateFileW", code);
        return FileRead::failed;
    }
    const DWORD type = GetFileType(file.get());
    if (type != FILE_TYPE_DISK) {
        error = type == FILE_TYPE_PIPE   ? "a named pipe, not a file"
                : type == FILE_TYPE_CHAR ? "a device, not a file"
                                         : "not a file on a disk";
        return FileRead::refused;
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length)) {
        error = describe("GetFileSizeEx", GetLastError());
        return FileRead::failed;
    }
    if (static_cast<std::uint64_t>(length.QuadPart) > largestFileRead) {
        error = tooLargeToRead(static_cast<std::uint64_t>(length.QuadPart));
        return FileRead::refused;
    }
    return readToEnd(contents, error, [&](char* buffer, std::size_t size) -> std::optional<std::size_t> {
        DWORD n = 0;
        if (ReadFile(file.get(), buffer, static_cast<DWORD>(size), &n, nullptr)) return n;
        error = describe("ReadFile", GetLastError());
        return std::nullopt;
    });
}

FileReplace replaceFileAtomically(const std::string& path, const std::string& contents, std::string& error) {
    const std::wstring named = widePathOf(path, error);
    if (named.empty()) return FileReplace::failed;
    // A pilot's link to a settings file kept elsewhere stays a link: the file it names is the
    // one replaced.
    const std::wstring target = finalPathOf(named);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return FileReplace::readOnly;

    const ULONGLONG deadline = GetTickCount64() + refusedRetryMs;
    const std::wstring temporary = target + L".tmp";
    // Whatever an earlier save or someone else left under the temporary name is taken away,
    // never opened or written through: the temporary file is always a new file of our own.
    const DWORD removed = retryWhileRefused(deadline, [&] {
        return DeleteFileW(temporary.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
    });
    if (removed != ERROR_SUCCESS) {
        error = describe("DeleteFileW of the old temporary file", removed);
        return FileReplace::failed;
    }
    // CREATE_NEW with the link left unfollowed: a link that appeared under the name meanwhile
    // makes this fail rather than create the file it points to.
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        error = describe("CreateFileW", GetLastError());
        return FileReplace::failed;
    }
    auto fail = [&](const char* step, DWORD code) {
        file.close();
        DeleteFileW(temporary.c_str());
        error = describe(step, code);
        return FileReplace::failed;
    };

    std::size_t written = 0;
    while (written < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size() - written, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(file.get(), contents.data() + written, chunk, &n, nullptr))
            return fail("WriteFile", GetLastError());
        if (n == 0) return fail("WriteFile", ERROR_WRITE_FAULT);
        written += n;
    }
    if (!FlushFileBuffers(file.get())) return fail("FlushFileBuffers", GetLastError());
    if (!file.close()) return fail("CloseHandle", GetLastError());
    const DWORD moved = retryWhileRefused(deadline, [&] {
        return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (moved != ERROR_SUCCESS) return fail("MoveFileExW", moved);
    return FileReplace::done;
}
