#include "plugin/paths.h"

#include <algorithm>
#include <cstring>

#if defined(_WIN32)
#    include <windows.h>
#endif

#include "platform/xplm.h"
#include "plugin/text_encoding.h"

namespace {

constexpr char nativePathsFeature[] = "XPLM_USE_NATIVE_PATHS";

// Every X-Plane since version 10 has the feature; only a simulator without it leaves us with
// its legacy paths (the ANSI code page and '\' on Windows; on Linux the two forms agree).
bool nativePaths = false;

char folderSeparator() {
#if defined(_WIN32)
    return nativePaths ? '/' : '\\';
#else
    return '/';
#endif
}

}  // namespace

void enableNativePaths() {
    nativePaths = XPLMHasFeature(nativePathsFeature) != 0;
    if (nativePaths)
        XPLMEnableFeature(nativePathsFeature, 1);
    else
        XPLMDebugString("CV: the simulator has no native paths; a plugin folder whose name the system code page "
                        "cannot spell will not be found\n");
}

std::string getPluginFolder() {
    char path[2048] = {};
    XPLMGetPluginInfo(XPLMGetMyID(), nullptr, path, nullptr, nullptr);
    path[sizeof path - 1] = '\0';
    const char* fileName = XPLMExtractFileAndPath(path);
    std::size_t length = std::strlen(path);
    if (fileName >= path && fileName <= path + sizeof path)
        length = std::min(length, static_cast<std::size_t>(fileName - path));
    std::string folder(path, length);
    folder.push_back(folderSeparator());
    return folder;
}

#if defined(_WIN32)
std::wstring toWidePath(const std::string& path) {
    if (path.empty()) return std::wstring();
    // Native paths are UTF-8 (a malformed one names no file), legacy ones are in the ANSI code
    // page; both become UTF-16.
    std::wstring wide = nativePaths ? toWideStrictly(path).value_or(std::wstring()) : fromAnsiCodePage(path);
    // Win32 takes '/' in most places, but not everywhere (LoadLibrary's documentation asks for
    // backslashes), so paths leave in the system's own form.
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}
#endif
