// WebView2 bring-up and teardown on the simulator's main thread: COM apartment, loader,
// environment -> composition controller -> controller and view, then the few calls the
// rest of the plugin makes through browser.h.
#include <string>

#include "browser/browser.h"
#include "browser/webview2/webview2_state.h"
#include "pipeline/frame.h"
#include "platform/com_callback.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/paths.h"
#include "plugin/settings.h"

using Microsoft::WRL::ComPtr;

ComPtr<ICoreWebView2Controller> webViewController;
ComPtr<ICoreWebView2CompositionController> compositionController;
ComPtr<ICoreWebView2> webView;
BrowserSession browserSession = 0;

namespace {

// Both live only between bring-up and stopBrowser, which releases them before COM goes.
ComPtr<ICoreWebView2Environment3> webViewEnvironment;
ComPtr<ICoreWebView2Controller> bringUpController;  // the controller step's own reference

bool comInitialised = false;
HMODULE loaderModule = nullptr;
// Only grows, and survives a stop when the module stays loaded, so a session number is never
// used twice in this process.
BrowserSession lastBrowserSession = 0;

// A full path, which the loader takes as it is, without searching: "C:\..." or "\\server\...".
bool isAbsoluteWindowsPath(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

void logLine(const std::string& text) { XPLMDebugString(text.c_str()); }

HRESULT onCompositionControllerCreated(HRESULT result, ICoreWebView2CompositionController* controller) {
    // A success without a controller would leave nothing to query; treat it as the failure it is.
    if (FAILED(result) || controller == nullptr) {
        XPLMDebugString("CV: CreateCoreWebView2CompositionController failed\n");
        return S_OK;
    }
    compositionController = controller;
    compositionController->QueryInterface(IID_ICoreWebView2Controller,
                                          reinterpret_cast<void**>(bringUpController.ReleaseAndGetAddressOf()));
    webViewController = bringUpController;
    if (!webViewController) {
        XPLMDebugString("CV: the composition controller has no ICoreWebView2Controller; running without a browser.\n");
        compositionController.Reset();
        return S_OK;
    }

    webViewController->get_CoreWebView2(webView.ReleaseAndGetAddressOf());
    // The bring-up size is the page size before any snapshot: 768 x 512.
    const RECT bounds{0, 0, pageWidth.load(), pageHeight.load()};
    webViewController->put_Bounds(bounds);
    webViewController->put_IsVisible(TRUE);
    webViewController->put_ZoomFactor(static_cast<double>(zoomLevel));
    if (webView) webView->Navigate(webUrl.c_str());
    return S_OK;
}

HRESULT onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment) {
    if (FAILED(result) || environment == nullptr) {
        XPLMDebugString("CV: CreateCoreWebView2EnvironmentWithOptions failed\n");
        return S_OK;
    }
    environment->QueryInterface(IID_ICoreWebView2Environment3,
                                reinterpret_cast<void**>(webViewEnvironment.ReleaseAndGetAddressOf()));
    if (!webViewEnvironment) {
        // A runtime too old for windowless hosting: never call the missing interface.
        XPLMDebugString("CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n");
        return S_OK;
    }

    auto handler = makeComCallback<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler,
        [session = browserSession](HRESULT controllerResult, ICoreWebView2CompositionController* controller) {
            // A late call after stop must not even log: the plugin is no longer running.
            if (session != browserSession) return S_OK;
            try {
                return onCompositionControllerCreated(controllerResult, controller);
            } catch (...) {
                XPLMDebugString("CV: error while bringing up the browser controller\n");
                return S_OK;
            }
        });
    if (!handler) {
        XPLMDebugString("CV: out of memory while bringing up the browser\n");
        return S_OK;
    }
    const HRESULT requested = webViewEnvironment->CreateCoreWebView2CompositionController(hiddenWindow, handler.Get());
    // A refusal here never reaches the handler: without this line the panel would stay blank
    // without a word.
    if (FAILED(requested))
        debugLog("CV: CreateCoreWebView2CompositionController returned 0x%08lX\n",
                 static_cast<unsigned long>(requested));
    return S_OK;
}

}  // namespace

bool initBrowserThread() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(result)) {
        XPLMDebugString("CV: CoInitializeEx failed\n");
        return false;
    }
    comInitialised = true;
    return true;
}

void createBrowserHostWindow() { hiddenWindow = createHiddenWindow(GetModuleHandleW(nullptr)); }

void startBrowser() {
    browserSession = ++lastBrowserSession;
    try {
        // The loader is taken only from our own folder, by full path, so a missing or
        // foreign copy elsewhere on the search path is never picked up, and a missing one
        // costs one log line instead of a module the simulator cannot load. Its own
        // dependencies come from its folder and System32, never from the simulator's current
        // folder or PATH.
        const std::string folder = getPluginFolder();
        const std::wstring loaderPath = toWidePath(folder + "WebView2Loader.dll");
        DWORD loadError = ERROR_MOD_NOT_FOUND;
        if (isAbsoluteWindowsPath(loaderPath)) {
            loaderModule = LoadLibraryExW(loaderPath.c_str(), nullptr,
                                          LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
            if (loaderModule == nullptr) loadError = GetLastError();
        }
        if (loaderModule == nullptr) {
            if (loadError == ERROR_MOD_NOT_FOUND || loadError == ERROR_FILE_NOT_FOUND || loadError == ERROR_PATH_NOT_FOUND)
                logLine("CV: WebView2Loader.dll not found in " + folder + "; running without a browser.\n");
            else  // there, but not a loader we can use: the 32-bit one, for instance
                logLine("CV: " + folder + "WebView2Loader.dll could not be loaded (error " + std::to_string(loadError) +
                        "); running without a browser.\n");
            return;
        }
        const auto createEnvironment = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFunction>(
            reinterpret_cast<void*>(GetProcAddress(loaderModule, kCreateEnvironmentExportName)));
        if (createEnvironment == nullptr) {
            logLine("CV: " + folder +
                    "WebView2Loader.dll has no CreateCoreWebView2EnvironmentWithOptions; running without a browser.\n");
            FreeLibrary(loaderModule);
            loaderModule = nullptr;
            return;
        }

        auto handler = makeComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
            IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
            [session = browserSession](HRESULT result, ICoreWebView2Environment* environment) {
                if (session != browserSession) return S_OK;
                try {
                    return onEnvironmentCreated(result, environment);
                } catch (...) {
                    XPLMDebugString("CV: error while bringing up the browser environment\n");
                    return S_OK;
                }
            });
        if (!handler) {
            XPLMDebugString("CV: out of memory while starting the browser\n");
            return;
        }
        const HRESULT result = createEnvironment(nullptr, nullptr, nullptr, handler.Get());
        // A refusal here (no runtime installed, for one) may never reach the handler; say so
        // rather than leave a panel that stays blank without a word.
        if (FAILED(result))
            debugLog("CV: CreateCoreWebView2EnvironmentWithOptions returned 0x%08lX\n",
                     static_cast<unsigned long>(result));
    } catch (...) {
        XPLMDebugString("CV: error while starting the browser\n");
    }
}

void stopBrowser() {
    browserSession = 0;
    webViewController.Reset();
    webView.Reset();
    compositionController.Reset();
    bringUpController.Reset();
    webViewEnvironment.Reset();
    releaseOwedSnapshots();
    if (hiddenWindow != nullptr) {
        DestroyWindow(hiddenWindow);
        hiddenWindow = nullptr;
    }
    // Before COM goes: the browser completes or releases what it still holds through this
    // thread's messages.
    const bool pinned = waitForBrowserHandlers();
    if (comInitialised) {
        CoUninitialize();
        comInitialised = false;
    }
    // Last, and only when nothing of ours is left in the browser's hands: a late call may pass
    // through the loader's code, so with handlers still held it stays loaded as we do.
    if (loaderModule != nullptr) {
        if (!pinned) FreeLibrary(loaderModule);
        loaderModule = nullptr;
    }
}

bool browserViewReady() { return webView != nullptr; }

bool browserControllerReady() { return webViewController != nullptr; }

void navigateBrowser(const std::wstring& url) {
    if (webView) webView->Navigate(url.c_str());
}

void setBrowserZoom(double factor) {
    if (webViewController) webViewController->put_ZoomFactor(factor);
}

void sendBrowserClick(int pageX, int pageY) {
    if (!compositionController) return;
    const POINT point{pageX, pageY};
    compositionController->SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_DOWN,
                                          COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, 0, point);
    compositionController->SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_UP,
                                          COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, 0, point);
}

void sendBrowserPointer(PagePointer what, int pageX, int pageY) {
    if (!compositionController) return;
    // As the window messages they stand for: the left-button flag is set while the button is
    // down (on the press and the drag's moves) and clear on the release.
    auto kind = COREWEBVIEW2_MOUSE_EVENT_KIND_MOVE;
    auto keys = COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE;
    switch (what) {
    case PagePointer::Move: break;
    case PagePointer::Drag: keys = COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_LEFT_BUTTON; break;
    case PagePointer::Press:
        kind = COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_DOWN;
        keys = COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_LEFT_BUTTON;
        break;
    case PagePointer::Release: kind = COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_UP; break;
    case PagePointer::Leave: kind = COREWEBVIEW2_MOUSE_EVENT_KIND_LEAVE; break;
    }
    compositionController->SendMouseInput(kind, keys, 0, POINT{pageX, pageY});
}

// The composition controller has no keyboard call, and this backend cannot yet learn the
// page's focus, so it never reports a text element: the panel never holds the keyboard and
// sends no keys or text here.
void sendBrowserKey(const PageKey&) {}

void sendBrowserText(const std::string&) {}
