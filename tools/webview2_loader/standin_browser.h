// The stand-in runtime's objects: an environment that makes composition controllers, a
// controller (both controller interfaces on one object, as in the real browser) and its
// view, all three belonging to one stand-in browser, whose processes fail on cue as the real
// ones do (ProcessFailed; a closed browser answers every call with 0x8007139F). Every call
// the plugin makes is recorded; unused methods answer E_NOTIMPL.
#pragma once

#include <atomic>

#include "platform/webview2.h"

namespace standin {

// Asks for an environment on behalf of the loader function, on `userDataFolder` (null or empty:
// WebView2's default); the answer comes later through the handler, as the real runtime gives it.
HRESULT createEnvironment(PCWSTR userDataFolder, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// Objects alive right now; a clean stop brings this to 0.
extern std::atomic<int> liveObjects;

}  // namespace standin
