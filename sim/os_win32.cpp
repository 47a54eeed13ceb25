#include "os.h"

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>

namespace xpsim::os {
namespace {

// The host's text is UTF-8; Windows takes UTF-16.
std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<std::size_t>(size - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    return out;
}

std::string narrow(const std::wstring& text, UINT codePage = CP_UTF8) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return "error " + std::to_string(code) + (message.empty() ? "" : " (" + narrow(message) + ")");
}

}  // namespace

void* loadModule(const std::string& path, std::string& error) {
    // The module's import of XPLM_64.dll binds to the host DLL already in the process, as in
    // X-Plane; a name it imports that the host lacks fails the load here.
    HMODULE module = LoadLibraryW(wide(path).c_str());
    if (module == nullptr) error = "LoadLibraryW failed: " + systemMessage(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* findSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadModule(void* module) { FreeLibrary(static_cast<HMODULE>(module)); }

bool moduleStillMapped(const std::string& path) { return GetModuleHandleW(wide(path).c_str()) != nullptr; }

std::string absolutePath(const std::string& path) {
    // X-Plane hands plugins full Windows paths with backslashes; so do we.
    const std::wstring relative = wide(path);
    const DWORD size = GetFullPathNameW(relative.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(relative.c_str(), size, full.data(), nullptr);
    if (written == 0 || written >= size) return path;
    full.resize(written);
    for (wchar_t& c : full)
        if (c == L'/') c = L'\\';
    return narrow(full);
}

char pathSeparator() { return '\\'; }

std::string nativePath(const std::string& path) {
    std::string native = path;
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

std::string legacyPath(const std::string& path) { return narrow(wide(path), CP_ACP); }

void sleepUntil(std::chrono::steady_clock::time_point when) { std::this_thread::sleep_until(when); }

namespace {
bool inMultithreadedApartment = false;
}

bool enterMultithreadedApartment() {
    if (!inMultithreadedApartment) inMultithreadedApartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    return inMultithreadedApartment;
}

void leaveMultithreadedApartment() {
    if (!inMultithreadedApartment) return;
    inMultithreadedApartment = false;
    CoUninitialize();
}

}  // namespace xpsim::os
