// Where WebView2 keeps the panel's profile: its cookies, sign-ins and cache. First WebView2's own
// default, a folder beside the simulator's executable, where the pilots' sign-ins already are.
// That folder cannot always be used: a simulator installed where its user may not write (under
// Program Files), or the folder held by another program's WebView2 with other options. WebView2
// then refuses the environment with access denied or an invalid state, and the plugin asks again
// at once with a folder of its own under the user's local application data, which the rest of
// the session's browsers use too. Only once a session: a refusal of our own folder is a failed
// bring-up like any other.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

#include "browser/webview2/webview2_state.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

constexpr wchar_t kOwnFolderParent[] = L"Corvane Toolbar";
constexpr wchar_t kOwnFolderName[] = L"WebView2";

// Our folder, once WebView2's default was refused this session; empty until then.
std::wstring ownFolder;
// WebView2's default has been given up on this session (whether ours could be made or not).
bool defaultGivenUp = false;

std::wstring environmentValue(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

// The user's local application data: LOCALAPPDATA as Windows sets it for each of the user's
// programs, else the known folder itself. Empty when neither gives a full path.
std::wstring localAppData() {
    std::wstring folder = environmentValue(L"LOCALAPPDATA");
    if (!isAbsoluteWindowsPath(folder)) {
        folder.clear();
        PWSTR known = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &known)) && known)
            folder = known;
        CoTaskMemFree(known);
    }
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    return folder;
}

// Makes `folder` unless it is there already; 0 when it is a folder now, else the error.
DWORD makeFolder(const std::wstring& folder) {
    const DWORD error = CreateDirectoryW(folder.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_SUCCESS;
    return error != ERROR_SUCCESS ? error : ERROR_DIRECTORY;
}

// For the log line: UTF-8 with '/' between folders, as the plugin's other paths are shown.
std::string forLog(const std::wstring& path) {
    std::string text = toUtf8(path);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

}  // namespace

PCWSTR userDataFolder() { return ownFolder.empty() ? nullptr : ownFolder.c_str(); }

bool switchedToOwnUserDataFolder(HRESULT refusal) {
    // What WebView2 answers for a folder it cannot write or that is held with other options.
    const bool folderRefused = refusal == E_ACCESSDENIED || refusal == HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    if (defaultGivenUp || !folderRefused) return false;
    defaultGivenUp = true;
    const std::string why = "CV: WebView2 could not use its default user-data folder (" + hex(refusal) + ")";
    const std::wstring base = localAppData();
    if (base.empty()) {
        logLine(why + ", and the user's local application data folder is unknown.\n");
        return false;
    }
    const std::wstring parent = base + L"\\" + kOwnFolderParent;
    const std::wstring folder = parent + L"\\" + kOwnFolderName;
    DWORD error = makeFolder(parent);
    if (error == ERROR_SUCCESS) error = makeFolder(folder);
    if (error != ERROR_SUCCESS) {
        logLine(why + ", and " + forLog(folder) + " could not be made (error " + std::to_string(error) + ").\n");
        return false;
    }
    ownFolder = folder;
    logLine(why + "; using " + forLog(ownFolder) + " instead.\n");
    return true;
}

void resetUserDataFolder() {
    ownFolder.clear();
    defaultGivenUp = false;
}
