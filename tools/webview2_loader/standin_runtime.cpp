// The stand-in runtime DLL: what the real WebView2 runtime's client library is to Microsoft's
// loader. The stand-in loader loads it and never frees it, so it may hold a plugin's handlers,
// and call them, after the plugin is gone; its exports are the stand-in's own.
#include <windows.h>

#include "platform/webview2.h"
#include "standin_browser.h"
#include "standin_completions.h"

HINSTANCE runtimeInstance = nullptr;

extern "C" {

HRESULT STDAPICALLTYPE StandInCreateEnvironment(PCWSTR userDataFolder,
                                                ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    try {
        return standin::createEnvironment(userDataFolder, handler);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// For the record and for tests: stand-in objects alive, and completions not yet paid.
int STDAPICALLTYPE StandInLiveObjects() { return standin::liveObjects.load(); }
int STDAPICALLTYPE StandInOwedCompletions() { return standin::owedCompletions(); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        runtimeInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
