// The loader function of the stand-in WebView2Loader.dll, and its unload bookkeeping.
#include <windows.h>
#include <wrl/client.h>

#include "platform/com_callback.h"
#include "platform/webview2.h"
#include "standin_browser.h"
#include "standin_support.h"

using Microsoft::WRL::ComPtr;

HINSTANCE standinInstance = nullptr;

namespace {

int hiddenWindowsOfThisThread() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM counter) -> BOOL {
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (lstrcmpW(className, L"WebView2HiddenForXPlane") == 0) ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
    using namespace standin;
    record(std::string("create-environment folder=") + narrow(browserExecutableFolder) +
           " user-data=" + narrow(userDataFolder) + " options=" + (environmentOptions ? "set" : "null") +
           " apartment=" + apartment());
    if (environmentCreatedHandler == nullptr) return E_INVALIDARG;
    if (cue("refuse-environment")) {
        record("environment refused");
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> completion(environmentCreatedHandler);
    post([completion] {
        if (cue("fail-environment")) {
            record("environment failed");
            completion->Invoke(E_FAIL, nullptr);
            return;
        }
        ComPtr<ICoreWebView2Environment3> environment = adoptComReference(newEnvironment());
        record("environment ready");
        completion->Invoke(S_OK, environment.Get());
    });
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        standinInstance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary, not process exit: report what the plugin left behind, then drop
        // undelivered completions so nothing calls into an unloaded module later.
        using namespace standin;
        record("unload live=" + std::to_string(liveObjects.load()) +
               " hidden-windows=" + std::to_string(hiddenWindowsOfThisThread()) + " apartment=" + apartment());
        dropPendingTasks();
    }
    return TRUE;
}
