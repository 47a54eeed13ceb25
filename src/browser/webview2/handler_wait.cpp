// The end of a stop that the browser may not be ready for. WebView2 runs outside this module
// and can hold one of our completion handlers past XPluginStop: the environment or controller
// of a bring-up still under way, a snapshot not answered yet. It may call the handler later,
// and at the least it will Release it, which runs our code either way; once X-Plane has
// unloaded the module, that code is gone and the simulator crashes.
#include "browser/webview2/webview2_state.h"
#include "platform/com_callback.h"
#include "plugin/log.h"

namespace {

constexpr ULONGLONG handlerWaitMs = 1000;

// Posted and sent messages (timers included) carry the browser's completions; the pilot's
// input and paint messages stay queued for the simulator's own loop.
constexpr UINT wakeOn = QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER;
constexpr UINT takeOnly = PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;

long handlersHeld() { return liveComCallbacks.load(std::memory_order_acquire); }

// Dispatches what has come in. A quit request is not ours to take: it is kept for the
// simulator's loop, which sees it once we post it again after the wait.
void dispatchWaiting(bool& quitSeen, WPARAM& quitCode) {
    MSG message;
    while (handlersHeld() > 0 && PeekMessageW(&message, nullptr, 0, 0, takeOnly)) {
        if (message.message == WM_QUIT) {
            quitSeen = true;
            quitCode = message.wParam;
            continue;
        }
        DispatchMessageW(&message);
    }
}

void keepThisModuleLoaded() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&keepThisModuleLoaded), &self);
}

}  // namespace

bool waitForBrowserHandlers() {
    if (handlersHeld() == 0) return false;
    const ULONGLONG deadline = GetTickCount64() + handlerWaitMs;
    bool quitSeen = false;
    WPARAM quitCode = 0;
    for (ULONGLONG now = GetTickCount64(); handlersHeld() > 0 && now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), wakeOn, MWMO_INPUTAVAILABLE);
        dispatchWaiting(quitSeen, quitCode);
    }
    if (quitSeen) PostQuitMessage(static_cast<int>(quitCode));
    const long held = handlersHeld();
    if (held == 0) return false;
    keepThisModuleLoaded();
    debugLog("CV: WebView2 still holds %ld of our completion handler(s) after 1 s; the plugin stays in memory "
             "until the simulator quits, so a late call is safely ignored.\n",
             held);
    return true;
}
