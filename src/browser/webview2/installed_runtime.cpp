// The loader's small job done by the plugin itself, so that a pilot needs nothing beside the
// module: find the installed Evergreen runtime in the registry, load its client library and
// ask it for the environment, as Microsoft's WebView2Loader.dll does (docs/windows.md names
// the public loaders these facts were read from).
#include "browser/webview2/installed_runtime.h"

#include <algorithm>
#include <cwchar>

#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

// The oldest runtime the public loaders accept: older ones cannot host windowlessly.
constexpr RuntimeVersion kOldestUsable{{86, 0, 616, 0}};

constexpr char kInstallAdvice[] =
    "install the Evergreen WebView2 Runtime from https://developer.microsoft.com/microsoft-edge/webview2/ "
    "(Windows 11 has it) and restart the simulator; running without a browser.\n";

// The client library of the runtime in use, and our one reference to it while the runtime
// says it cannot be unloaded.
std::wstring clientDll;
HMODULE clientModule = nullptr;

// For log lines: UTF-8 with '/' between folders, as the plugin's other paths are shown.
std::string forLog(const std::wstring& path) {
    std::string text = toUtf8(path);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string versionText(const RuntimeVersion& version) {
    const auto& p = version.parts;
    return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." + std::to_string(p[3]);
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

// The version folder one registry view names, if any.
std::optional<std::wstring> registeredFolder(HKEY root, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kEvergreenClientStateKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<std::wstring> folder;
    DWORD bytes = 0;
    LSTATUS status = RegGetValueW(key, nullptr, kEvergreenFolderValue, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    // The value can grow between the two calls (an update running): a few tries, then give up.
    for (int attempt = 0; attempt < 3 && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA); ++attempt) {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, kEvergreenFolderValue, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
        if (status == ERROR_SUCCESS) {
            text.resize(std::wcslen(text.c_str()));
            folder = std::move(text);
            break;
        }
    }
    RegCloseKey(key);
    return folder;
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

HRESULT runtimeCanUnload(HMODULE module) {
    const auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kDllCanUnloadNowExportName)));
    // A library that cannot say is kept, as Microsoft's loader keeps it.
    return canUnload != nullptr ? canUnload() : S_FALSE;
}

// Keeps one reference to the client library for as long as the runtime runs anything of it for
// us (it holds our handler until the environment is answered), and none once it says so.
void settleReference(HMODULE module) {
    if (runtimeCanUnload(module) == S_OK || clientModule != nullptr)
        FreeLibrary(module);
    else
        clientModule = module;
}

// Stands in for the loader's CreateCoreWebView2EnvironmentWithOptions: a request goes to the
// client library with the same arguments, the runtime counted as installed. Each request loads
// the library afresh, so a runtime updated meanwhile is taken from its new folder.
HRESULT STDAPICALLTYPE createEnvironmentWithInstalledRuntime(
    PCWSTR, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    // Its own dependencies come from its folder and System32, never from the simulator's.
    const HMODULE module =
        LoadLibraryExW(clientDll.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    const auto create = reinterpret_cast<CreateWebViewEnvironmentWithOptionsInternalFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, kCreateEnvironmentInternalExportName)));
    if (create == nullptr) {
        FreeLibrary(module);
        return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    const HRESULT result = create(true, WEBVIEW2_RUNTIME_TYPE_INSTALLED, userDataFolder,
                                  reinterpret_cast<IUnknown*>(environmentOptions), environmentCreatedHandler);
    settleReference(module);
    return result;
}

}  // namespace

std::optional<RuntimeVersion> runtimeVersionOf(const std::wstring& versionFolder) {
    const std::wstring folder = withoutTrailingSeparators(versionFolder);
    const std::size_t slash = folder.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? folder : folder.substr(slash + 1);
    RuntimeVersion version;
    std::size_t at = 0;
    for (std::size_t part = 0; part < version.parts.size(); ++part) {
        if (part > 0 && (at >= name.size() || name[at++] != L'.')) return std::nullopt;
        const std::size_t digits = name.find_first_not_of(L"0123456789", at);
        const std::size_t end = digits == std::wstring::npos ? name.size() : digits;
        // At most 9 digits: every part fits, and nothing real comes near.
        if (end == at || end - at > 9) return std::nullopt;
        version.parts[part] = std::wcstoul(name.substr(at, end - at).c_str(), nullptr, 10);
        at = end;
    }
    if (at != name.size()) return std::nullopt;
    return version;
}

std::optional<InstalledRuntime> newestUsableRuntime(const std::vector<std::wstring>& versionFolders,
                                                    const std::function<bool(const std::wstring&)>& exists,
                                                    std::vector<std::wstring>& skipped) {
    std::optional<InstalledRuntime> newest;
    for (const std::wstring& named : versionFolders) {
        const std::wstring folder = withoutTrailingSeparators(named);
        const std::optional<RuntimeVersion> version = runtimeVersionOf(folder);
        const std::wstring library = folder + L"\\" + kEvergreenClientLibrary;
        if (!version || *version < kOldestUsable || !exists(library)) {
            skipped.push_back(folder);
            continue;
        }
        if (!newest || newest->version < *version) newest = InstalledRuntime{folder, library, *version};
    }
    return newest;
}

CreateCoreWebView2EnvironmentWithOptionsFunction findInstalledRuntime() {
    // Per machine the updater writes the 32-bit view; per user there is one view. Both views of
    // both are read, so an installer that wrote the other view is found too.
    std::vector<std::wstring> folders;
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            std::optional<std::wstring> folder = registeredFolder(root, view);
            if (folder && std::find(folders.begin(), folders.end(), *folder) == folders.end())
                folders.push_back(std::move(*folder));
        }
    }
    std::vector<std::wstring> skipped;
    const std::optional<InstalledRuntime> runtime = newestUsableRuntime(folders, isFile, skipped);
    if (!runtime) {
        std::string line = "CV: no usable WebView2 runtime is installed";
        for (std::size_t i = 0; i < skipped.size(); ++i)
            line +=
                (i == 0 ? " (missing or too old: " : ", ") + forLog(skipped[i]) + (i + 1 == skipped.size() ? ")" : "");
        logLine(line + "; " + kInstallAdvice);
        return nullptr;
    }
    clientDll = runtime->clientDll;
    logLine("CV: using the installed WebView2 runtime " + versionText(runtime->version) + " in " +
            forLog(runtime->folder) + "\n");
    return &createEnvironmentWithInstalledRuntime;
}

void releaseInstalledRuntime(bool keepLoaded) {
    if (clientModule == nullptr) return;
    // When the runtime still runs something of ours, the library stays for it, as Microsoft's
    // loader leaves it; our reference then goes with the process.
    if (!keepLoaded && runtimeCanUnload(clientModule) == S_OK) FreeLibrary(clientModule);
    clientModule = nullptr;
}
