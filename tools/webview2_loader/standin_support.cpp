#include "standin_support.h"

#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace standin {

// The process environment itself, not the C runtime's copy of it: a test that sets a variable
// with SetEnvironmentVariable in this process is seen at once.
std::string environmentVariable(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void record(const std::string& line) {
    const std::string path = environmentVariable("CV_WEBVIEW2_RECORD");
    if (path.empty()) return;
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

bool cue(const char* name) {
    std::stringstream list(environmentVariable("CV_WEBVIEW2_CUES"));
    std::string item;
    while (std::getline(list, item, ','))
        if (item == name) return true;
    return false;
}

int cueNumber(const char* name) {
    const std::string prefix = name;
    std::stringstream list(environmentVariable("CV_WEBVIEW2_CUES"));
    std::string item;
    while (std::getline(list, item, ','))
        if (item.rfind(prefix, 0) == 0 && item.size() > prefix.size()) return std::atoi(item.c_str() + prefix.size());
    return -1;
}

std::string format(const char* pattern, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

std::string narrow(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string out(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

bool refusesDefaultUserData(const wchar_t* userDataFolder) {
    if (!cue("refuse-default-user-data") || (userDataFolder != nullptr && userDataFolder[0] != L'\0')) return false;
    record("environment refused: the default user-data folder");
    return true;
}

std::string apartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return "none";
    switch (type) {
    case APTTYPE_STA:
    case APTTYPE_MAINSTA: return "sta";
    case APTTYPE_MTA: return "mta";
    default: return "other";
    }
}

namespace {

struct HostWindows {
    int count = 0;
    HWND first = nullptr;
};

HostWindows hostWindows() {
    HostWindows found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) -> BOOL {
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (lstrcmpW(className, L"WebView2HiddenForXPlane") != 0) return TRUE;
            auto* windows = reinterpret_cast<HostWindows*>(out);
            if (windows->count++ == 0) windows->first = window;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

int hostWindowsOfThisThread() { return hostWindows().count; }

HWND firstHostWindowOfThisThread() { return hostWindows().first; }

}  // namespace standin
