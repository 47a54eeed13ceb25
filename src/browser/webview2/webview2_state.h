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

// True from startBrowser to stopBrowser. A completion that arrives outside that span (the
// plugin was stopped while the browser was still answering) is dropped untouched.
extern bool browserRunning;

// Registers the hidden window's class (an earlier load in this process may already have)
// and creates the window, 768 x 512, hidden. Null on failure.
HWND createHiddenWindow(HINSTANCE instance);
