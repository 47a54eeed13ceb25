#include "plugin/settings_file.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "plugin/paths.h"

namespace {

// "step failed: the system's message (error N)", the message in UTF-8 like the rest of the log.
std::string describe(const char* step, DWORD code)
{
    std::string text = std::string(step) + " failed: ";
    wchar_t* message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length > 0 && message != nullptr) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        std::string utf8(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, message, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
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
    bool close()
    {
        if (!valid()) return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

}  // namespace

FileRead readWholeFile(const std::string& path, std::string& contents, std::string& error)
{
    contents.clear();
    const std::wstring widePath = toWidePath(path);
    if (widePath.empty()) {
        error = "the path is not valid text";
        return FileRead::failed;
    }
    // Shared as the C library's fopen shares: a file another program holds without sharing
    // (an editor, a virus scan) fails here, which is not a missing file.
    FileHandle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return FileRead::missing;
        error = describe("CreateFileW", code);
        return FileRead::failed;
    }
    try {
        char buffer[16384];
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
                error = describe("ReadFile", GetLastError());
                break;
            }
            if (n == 0) return FileRead::done;
            contents.append(buffer, n);
        }
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    contents.clear();
    return FileRead::failed;
}

bool replaceFileAtomically(const std::string& path, const std::string& contents, std::string& error)
{
    const std::wstring target = toWidePath(path);
    if (target.empty()) {
        error = "the path is not valid text";
        return false;
    }
    const std::wstring temporary = target + L".tmp";
    FileHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file.valid()) {
        error = describe("CreateFileW", GetLastError());
        return false;
    }
    auto fail = [&](const char* step, DWORD code) {
        file.close();
        DeleteFileW(temporary.c_str());
        error = describe(step, code);
        return false;
    };

    std::size_t written = 0;
    while (written < contents.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size() - written, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(file.get(), contents.data() + written, chunk, &n, nullptr)) return fail("WriteFile", GetLastError());
        if (n == 0) return fail("WriteFile", ERROR_WRITE_FAULT);
        written += n;
    }
    if (!FlushFileBuffers(file.get())) return fail("FlushFileBuffers", GetLastError());
    if (!file.close()) return fail("CloseHandle", GetLastError());
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail("MoveFileExW", GetLastError());
    return true;
}
