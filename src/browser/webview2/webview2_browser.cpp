// WebView2 bring-up and teardown on the simulator's main thread: COM apartment, loader,
// environment -> composition controller -> controller and view, then the few calls the
// rest of the plugin makes through browser.h. A browser is brought up at start and again
// after each failure (webview2_recovery.cpp); everything of one browser lives in `browser`.
#include <string>

#include "browser/browser.h"
#include "browser/devtools/page_commands.h"
#include "browser/webview2/installed_runtime.h"
#include "browser/webview2/webview2_state.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/paths.h"
#include "plugin/settings.h"

std::optional<WebView2Browser> browser;

namespace {

constexpr wchar_t kHiddenWindowClass[] = L"WebView2HiddenForXPlane";
constexpr wchar_t kHiddenWindowTitle[] = L"HiddenWebView2";

bool comInitialised = false;
HMODULE loaderModule = nullptr;
// Looked up once per start, when the loader is loaded; every bring-up of the session uses it.
CreateCoreWebView2EnvironmentWithOptionsFunction createEnvironment = nullptr;
// The page size before any snapshot, 768 x 512, taken at start: every browser of the session is
// laid out at it. A snapshot's own size (larger at a high display scale) must not grow the next
// browser's page.
RECT viewBounds{};
// Only grows, and survives a stop when the module stays loaded, so a generation is never used
// twice in this process.
BrowserGeneration lastGeneration = 0;
// The hidden top-level window every browser is parented to; never shown.
HWND hiddenWindow = nullptr;

constexpr const char* environmentLine = "CV: error while bringing up the browser environment";
constexpr const char* controllerLine = "CV: error while bringing up the browser controller";

// A bring-up request refused at once never reaches its handler (unless it already has, and
// failed the browser there).
void refusedUnlessAnswered(BrowserGeneration generation, HRESULT result, const std::string& request,
                           bool atLongestDelay = false) {
    if (FAILED(result) && isCurrentBrowser(generation))
        browserFailed("CV: " + request + " returned " + hex(result), atLongestDelay);
}

void onProcessFailedEvent(ICoreWebView2*, ICoreWebView2ProcessFailedEventArgs* args) {
    // A kind that cannot be read is taken for the worst: the browser is gone.
    COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
    if (args == nullptr || FAILED(args->get_ProcessFailedKind(&kind)))
        kind = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
    onProcessFailed(kind);
}

void onNavigationCompleted(ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs*) {
    browser->reloadUnderway = false;
    // A new page load: its dialogs count afresh.
    browser->dialogFlood.pageLoaded();
    onPageLoaded();
    // The page may not paint again by itself: worth a picture now.
    onBrowserPageLoaded();
}

// Our handlers on the view: its process failures, and its page loads (clicks kept while the
// page came back go on then). A view that takes neither still shows the page; a lost browser is
// then noticed by the snapshots it no longer answers.
void listenTo(WebView2Browser& current) {
    ICoreWebView2* view = current.webView.Get();
    current.events.processFailed =
        CV_SUBSCRIBE(view, ProcessFailed, current.generation, "CV: error while handling a failed WebView2 process",
                     onProcessFailedEvent);
    if (!current.events.processFailed)
        XPLMDebugString("CV: WebView2 will not report its process failures; a lost browser is noticed by the "
                        "snapshots it no longer answers.\n");
    current.events.navigationCompleted = CV_SUBSCRIBE(view, NavigationCompleted, current.generation,
                                                      "CV: error after the page loaded", onNavigationCompleted);
}

// A bring-up step's answer: true when it brought what was asked for. A success without it would
// leave nothing to query, so it fails the browser as a failure does.
bool stepSucceeded(HRESULT result, const void* brought, const char* request) {
    if (SUCCEEDED(result) && brought != nullptr) return true;
    browserFailed("CV: " + std::string(request) + " failed (" + hex(result) + ")");
    return false;
}

// The colour scheme the pilot prefers, told each browser's page before it loads.
bool darkScheme = false;

void tellColorSchemeRefused(HRESULT result) {
    debugLog("CV: the page could not be told the pilot's colour scheme (%s).\n", hex(result).c_str());
}

void tellColorScheme(WebView2Browser& current) {
    const HRESULT sent = callDevTools(current, devtools::colorScheme(darkScheme), [](HRESULT result) {
        if (FAILED(result)) tellColorSchemeRefused(result);
    });
    if (FAILED(sent)) tellColorSchemeRefused(sent);
}

void onCompositionControllerCreated(HRESULT result, ICoreWebView2CompositionController* controller) {
    if (!stepSucceeded(result, controller, "CreateCoreWebView2CompositionController")) return;
    WebView2Browser& current = *browser;
    current.compositionController = controller;
    if (!queryInterface(controller, IID_ICoreWebView2Controller, current.webViewController))
        return browserFailed("CV: the composition controller has no ICoreWebView2Controller");
    current.webViewController->get_CoreWebView2(current.webView.ReleaseAndGetAddressOf());
    if (!current.webView) return browserFailed("CV: the WebView2 controller has no view");

    // The zoom and page scale are the ones of the moment: steps taken while a browser came
    // back reach it here.
    applyPageScaleAtBringUp(current);
    current.webViewController->put_Bounds(viewBounds);
    current.webViewController->put_IsVisible(TRUE);
    current.webViewController->put_ZoomFactor(static_cast<double>(zoomLevel));
    listenTo(current);
    listenToPageRequests(current);
    browserStarted();
    onBrowserStarted();
    tellColorScheme(current);
    loadPageWithInput(current);
}

// WebView2's default user-data folder refused the environment: the same request at once, on our
// own folder.
bool askedAgainOnOwnFolder(HRESULT refusal) {
    if (!switchedToOwnUserDataFolder(refusal)) return false;
    try {
        bringUpBrowser();
    } catch (...) {
        browserFailed("CV: error while bringing up the browser");
    }
    return true;
}

void onEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment) {
    if (FAILED(result) && askedAgainOnOwnFolder(result)) return;
    if (!stepSucceeded(result, environment, "CreateCoreWebView2EnvironmentWithOptions")) return;
    WebView2Browser& current = *browser;
    if (!queryInterface(environment, IID_ICoreWebView2Environment3, current.webViewEnvironment)) {
        // A runtime too old for windowless hosting: never call the missing interface, and
        // never ask again, since only an update of the runtime mends it.
        XPLMDebugString("CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n");
        retireBrowser(false);
        return;
    }
    // What goes wrong in a bring-up step counts as a failed bring-up.
    auto handler = browserHandler<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler, current.generation, controllerLine,
        onCompositionControllerCreated, [] { browserFailed(controllerLine); });
    if (!handler) return browserFailed("CV: out of memory while bringing up the browser");
    const BrowserGeneration generation = current.generation;  // `current` may be gone once asked
    refusedUnlessAnswered(
        generation, current.webViewEnvironment->CreateCoreWebView2CompositionController(hiddenWindow, handler.Get()),
        "CreateCoreWebView2CompositionController");
}

// Microsoft's loader when it lies beside the module, else the plugin's own lookup of the
// installed runtime (the package a pilot unpacks has no loader). The loader is taken only from
// our own folder, by full path, so a foreign copy elsewhere on the search path is never picked
// up; its own dependencies come from its folder and System32, never from the simulator's
// current folder or PATH. Null, after one log line, when there is no browser to be had.
CreateCoreWebView2EnvironmentWithOptionsFunction environmentFunction() {
    const std::string folder = getPluginFolder();
    const std::wstring loaderPath = toWidePath(folder + "WebView2Loader.dll");
    DWORD loadError = ERROR_MOD_NOT_FOUND;
    if (isAbsoluteWindowsPath(loaderPath)) {
        loaderModule = LoadLibraryExW(loaderPath.c_str(), nullptr,
                                      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (loaderModule == nullptr) loadError = GetLastError();
    }
    if (loaderModule != nullptr) {
        const auto createEnvironment = reinterpret_cast<CreateCoreWebView2EnvironmentWithOptionsFunction>(
            reinterpret_cast<void*>(GetProcAddress(loaderModule, kCreateEnvironmentExportName)));
        if (createEnvironment != nullptr) return createEnvironment;
        logLine("CV: " + folder +
                "WebView2Loader.dll has no CreateCoreWebView2EnvironmentWithOptions; looking for the installed "
                "runtime instead.\n");
        FreeLibrary(loaderModule);
        loaderModule = nullptr;
    } else if (loadError != ERROR_MOD_NOT_FOUND && loadError != ERROR_FILE_NOT_FOUND &&
               loadError != ERROR_PATH_NOT_FOUND) {
        // There, but not a loader we can use: the 32-bit one, for instance.
        logLine("CV: " + folder + "WebView2Loader.dll could not be loaded (error " + std::to_string(loadError) +
                "); looking for the installed runtime instead.\n");
    }
    return findInstalledRuntime();
}

}  // namespace

void bringUpBrowser() {
    browser.emplace();
    const BrowserGeneration generation = browser->generation = ++lastGeneration;
    auto handler = browserHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, generation, environmentLine,
        onEnvironmentCreated, [] { browserFailed(environmentLine); });
    if (!handler) return browserFailed("CV: out of memory while starting the browser");
    // Without a runtime installed (file not found) a quick retry cannot help: the pilot has to
    // install one first.
    const HRESULT result = createEnvironment(nullptr, userDataFolder(), nullptr, handler.Get());
    if (FAILED(result) && isCurrentBrowser(generation) && askedAgainOnOwnFolder(result)) return;
    refusedUnlessAnswered(generation, result, "CreateCoreWebView2EnvironmentWithOptions",
                          result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

void retireBrowser(bool answerOwed) {
    if (!browser) return;
    // Out of `browser` first: whatever the calls below set off finds no browser of the moment.
    WebView2Browser retired = std::move(*browser);
    browser.reset();
    // Our handlers come off first (a closed view has let go of them already): nothing below
    // reaches them.
    retired.events = {};
    forgetPageDialog(retired);
    if (answerOwed) retired.owedSnapshots.failAll();
    // Its page, and whatever text element had the focus there, is gone.
    onBrowserTextFocus(false);
}  // the view, the controllers and the environment are released here

bool initBrowserThread() {
    comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (!comInitialised) XPLMDebugString("CV: CoInitializeEx failed\n");
    return comInitialised;
}

// Registers the hidden window's class (an earlier load in this process may already have) and
// creates the window, 768 x 512, hidden; null on failure. DefWindowProcW lives in user32 and the
// instance is the simulator's executable, so the class stays valid after this module is
// unloaded; a reload finds it registered, the registration fails, and the old class is used as
// it is.
void createBrowserHostWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kHiddenWindowClass;
    RegisterClassW(&windowClass);
    hiddenWindow =
        CreateWindowExW(0, kHiddenWindowClass, kHiddenWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                        pageWidth.load(), pageHeight.load(), nullptr, nullptr, instance, nullptr);
}

void startBrowser() {
    guarded("CV: error while starting the browser", [] {
        createEnvironment = environmentFunction();
        if (createEnvironment == nullptr) return;
        viewBounds = RECT{0, 0, pageWidth.load(), pageHeight.load()};
        startRecovery();
        bringUpBrowser();
    });
}

void stopBrowser() {
    guarded("CV: error while stopping the browser", [] {
        stopRecovery();
        retireBrowser(false);
        resetPageInput();
        resetBrowserPolicy();
        resetUserDataFolder();
    });
    createEnvironment = nullptr;
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
    releaseInstalledRuntime(pinned);
}

bool browserViewReady() { return browser && browser->webView; }

bool browserControllerReady() { return browser && browser->webViewController; }

void navigateBrowser(const std::wstring& url) {
    // A page still held is loaded once its focus reports are in place.
    if (!browserViewReady() || pageHeld()) return;
    browser->reloadUnderway = true;
    browser->webView->Navigate(url.c_str());
}

void goBrowserBack() {
    if (!browserViewReady() || pageHeld()) return;
    BOOL canGoBack = FALSE;
    if (SUCCEEDED(browser->webView->get_CanGoBack(&canGoBack)) && canGoBack) browser->webView->GoBack();
}

void setBrowserColorScheme(bool dark) {
    if (dark == darkScheme) return;
    darkScheme = dark;
    if (browserViewReady()) tellColorScheme(*browser);
}

void setBrowserZoom(double factor) {
    if (browserControllerReady()) browser->webViewController->put_ZoomFactor(factor);
}

void sendBrowserClick(int pageX, int pageY) {
    if (keepClickUntilThePageIsBack(pageX, pageY)) return;
    if (!browser || !browser->compositionController) return;
    const POINT point{pageX, pageY};
    browser->compositionController->SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_DOWN,
                                                   COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, 0, point);
    browser->compositionController->SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_UP,
                                                   COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, 0, point);
}

void sendBrowserWheel(int pageX, int pageY, int clicks, bool horizontal) {
    if (!browser || !browser->compositionController) return;
    // As a desktop mouse's wheel messages: WHEEL_DELTA (120) a notch, positive away from the
    // user or to the right, the signed amount in the unsigned field.
    constexpr int wheelDelta = 120;
    const auto amount = static_cast<UINT32>(static_cast<std::int32_t>(clicks * wheelDelta));
    browser->compositionController->SendMouseInput(
        horizontal ? COREWEBVIEW2_MOUSE_EVENT_KIND_HORIZONTAL_WHEEL : COREWEBVIEW2_MOUSE_EVENT_KIND_WHEEL,
        COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, amount, POINT{pageX, pageY});
}

void sendBrowserPointer(PagePointer what, int pageX, int pageY) {
    if (!browser || !browser->compositionController) return;
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
    browser->compositionController->SendMouseInput(kind, keys, 0, POINT{pageX, pageY});
}
