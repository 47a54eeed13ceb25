// The stand-in runtime as the installed Evergreen runtime comes: this DLL is copied to
// <version folder>\EBWebView\x64\EmbeddedBrowserWebView.dll, the folder is named in
// EdgeUpdate's client state key (tests/windows/evergreen_install.h), and the plugin's own
// loader finds it there with no WebView2Loader.dll anywhere. It exports what the real client
// library exports to a loader. Unlike the stand-in loader's runtime it can be unloaded, which
// it allows only once it holds nothing of its client.
#include <windows.h>

#include <string>

#include "platform/webview2.h"
#include "standin_browser.h"
#include "standin_completions.h"
#include "standin_support.h"

HINSTANCE runtimeInstance = nullptr;

namespace {

// The version folder this copy was installed in: ...\<version>\EBWebView\x64\this.dll.
std::string installedVersion() {
    wchar_t own[MAX_PATH] = {};
    std::wstring path(own, GetModuleFileNameW(runtimeInstance, own, MAX_PATH));
    // Up from the file: x64, EBWebView, and then the version folder is the last name.
    for (int level = 0; level < 3; ++level) path = path.substr(0, path.find_last_of(L'\\'));
    return standin::narrow(path.substr(path.find_last_of(L'\\') + 1).c_str());
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance, WEBVIEW2_RUNTIME_TYPE runtimeType, PCWSTR userDataFolder, IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    using namespace standin;
    try {
        record(format("create-environment-internal check-running=%d runtime-type=%d", checkRunningInstance ? 1 : 0,
                      static_cast<int>(runtimeType)) +
               " user-data=" + narrow(userDataFolder) + " options=" + (environmentOptions ? "set" : "null") +
               " version=" + installedVersion() + " apartment=" + apartment());
        if (environmentCreatedHandler == nullptr) return E_INVALIDARG;
        if (cue("refuse-environment")) {
            record("environment refused");
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        }
        if (refusesDefaultUserData(userDataFolder)) return E_ACCESSDENIED;
        return createEnvironment(userDataFolder, environmentCreatedHandler);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return standin::liveObjects.load() == 0 && standin::owedCompletions() == 0 ? S_OK : S_FALSE;
}

int STDAPICALLTYPE StandInOwedCompletions() { return standin::owedCompletions(); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        runtimeInstance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary, not process exit: what the plugin left behind when it let go of us.
        using namespace standin;
        record("unload live=" + std::to_string(liveObjects.load()) +
               " hidden-windows=" + std::to_string(hostWindowsOfThisThread()) + " apartment=" + apartment());
        closeLedger();
    }
    return TRUE;
}
