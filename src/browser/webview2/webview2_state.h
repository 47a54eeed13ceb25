// State of the WebView2 backend shared by its files. Main thread only, no locks.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include "platform/webview2.h"

// The hidden top-level window the windowless browser is parented to; never shown.
extern HWND hiddenWindow;

// Owning references, null until the bring-up has completed and again after stopBrowser.
extern Microsoft::WRL::ComPtr<ICoreWebView2Controller> webViewController;
extern Microsoft::WRL::ComPtr<ICoreWebView2CompositionController> compositionController;
extern Microsoft::WRL::ComPtr<ICoreWebView2> webView;

// Which bring-up the browser's completions belong to: a new number at each startBrowser, 0 from
// stopBrowser on. Each completion handler keeps the number it was made under and drops the
// completion untouched when that is no longer the current one: the plugin was stopped while
// the browser still owed it, and perhaps started again in a module that stayed loaded.
using BrowserSession = unsigned long long;
extern BrowserSession browserSession;

// Registers the hidden window's class (an earlier load in this process may already have)
// and creates the window, 768 x 512, hidden. Null on failure.
HWND createHiddenWindow(HINSTANCE instance);

// Lets go of this module's references to the streams of snapshots the browser still owes
// (stopBrowser): their memory goes once the browser lets go of its own.
void releaseOwedSnapshots();

// Called by stopBrowser after every reference into the browser is released. While the browser
// still holds completion handlers of this module, pumps the thread's posted and sent messages
// for at most 1 s so it can complete or release them. If some are still held then, pins this
// module, so that their late calls (and final Releases) find its code and are dropped there,
// and says so in one log line. True when the module was pinned.
bool waitForBrowserHandlers();
