// Installs the stand-in runtime the way the Evergreen WebView2 Runtime is installed, for tests
// under Wine: the client library in <application folder>\<version>\EBWebView\x64\, the version
// folder named in EdgeUpdate's client state key ("EBWebView") and the version in its clients
// key ("pv", what Microsoft documents for detecting an install). Per machine the updater writes
// the 32-bit registry view; per user there is one view. Both the windows module tests and
// evergreen_install.exe (for the package test) install through here.
#pragma once

#include <windows.h>

#include <string>

namespace evergreen {

inline constexpr wchar_t kClientStateKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kClientsKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

enum class Scope { PerMachine, PerUser };

inline HKEY rootOf(Scope scope) { return scope == Scope::PerMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

inline bool setString(HKEY root, REGSAM view, const wchar_t* key, const wchar_t* name, const std::wstring& value) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS status = RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

// Names `versionFolder` (...\Application\<version>) in the registry of `scope`.
inline bool registerRuntime(Scope scope, const std::wstring& versionFolder, const std::wstring& version) {
    return setString(rootOf(scope), KEY_WOW64_32KEY, kClientStateKey, L"EBWebView", versionFolder) &&
           setString(rootOf(scope), KEY_WOW64_32KEY, kClientsKey, L"pv", version);
}

// Creates `folder` and every missing folder above it.
inline bool createFolders(const std::wstring& folder) {
    for (std::size_t slash = folder.find(L'\\', 3);; slash = folder.find(L'\\', slash + 1)) {
        const std::wstring level = folder.substr(0, slash);
        if (!CreateDirectoryW(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        if (slash == std::wstring::npos) return true;
    }
}

// Copies the client library into `applicationFolder`\<version>\EBWebView\x64\ and registers it.
// Returns the version folder, empty on failure.
inline std::wstring installRuntime(Scope scope, const std::wstring& applicationFolder, const std::wstring& version,
                                   const std::wstring& clientLibrary) {
    const std::wstring versionFolder = applicationFolder + L"\\" + version;
    const std::wstring libraryFolder = versionFolder + L"\\EBWebView\\x64";
    if (!createFolders(libraryFolder) ||
        !CopyFileW(clientLibrary.c_str(), (libraryFolder + L"\\EmbeddedBrowserWebView.dll").c_str(), FALSE))
        return {};
    return registerRuntime(scope, versionFolder, version) ? versionFolder : std::wstring();
}

// Removes what registerRuntime wrote, in both views (files are the caller's).
inline void unregisterRuntimes() {
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            for (const wchar_t* key : {kClientStateKey, kClientsKey}) RegDeleteKeyExW(root, key, view, 0);
}

}  // namespace evergreen
