// State of the WebView2 backend shared by its files. Main thread only, no locks.
//
// What belongs to one browser's life lives in WebView2Browser, which a re-creation replaces
// whole; what outlives it (the hidden window, COM, the loader, the back-off) stays apart.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>

#include "browser/browser.h"
#include "platform/webview2.h"

// The hidden top-level window every browser is parented to; never shown.
extern HWND hiddenWindow;

// Which browser a completion belongs to. Each handler keeps the number of the browser it was
// made for and drops the completion untouched when that browser is no longer the current one:
// it was replaced after a failure, or the plugin was stopped (and perhaps started again in a
// module that stayed loaded). Numbers only grow, so none is used twice in this process.
using BrowserSession = unsigned long long;

// One browser, from its environment request until it is let go of.
struct WebView2Browser {
    BrowserSession session = 0;
    // Null until the bring-up step that sets them has completed.
    Microsoft::WRL::ComPtr<ICoreWebView2Environment3> webViewEnvironment;
    Microsoft::WRL::ComPtr<ICoreWebView2CompositionController> compositionController;
    Microsoft::WRL::ComPtr<ICoreWebView2Controller> webViewController;
    Microsoft::WRL::ComPtr<ICoreWebView2> webView;
    // Our handlers registered on webView, removed with these tokens before it is let go of.
    std::optional<WebView2EventToken> processFailedToken;
    std::optional<WebView2EventToken> navigationCompletedToken;
    std::optional<WebView2EventToken> scriptDialogToken;
    std::optional<WebView2EventToken> newWindowToken;
    std::optional<WebView2EventToken> permissionToken;
    // The view's fourth version, which tells of downloads (a runtime too old has none).
    Microsoft::WRL::ComPtr<ICoreWebView2_4> webView4;
    std::optional<WebView2EventToken> downloadToken;
    // The page's dialog while it waits for the pilot: its arguments and our deferral of it.
    Microsoft::WRL::ComPtr<ICoreWebView2ScriptDialogOpeningEventArgs> dialogArgs;
    Microsoft::WRL::ComPtr<ICoreWebView2Deferral> dialogDeferral;
    // Our periodic reload has been asked and its page has not loaded yet: a leave-page
    // question meanwhile is the reload's.
    bool reloadUnderway = false;
    // Snapshots asked of it and not answered yet: our reference to each one's stream, by
    // ticket. The handler holds only the ticket, so a snapshot's memory goes as soon as its
    // answer comes or the capture schedule gives up on it; the entry, with no stream, stays
    // until then so that a late answer is still told apart.
    std::map<CaptureTicket, Microsoft::WRL::ComPtr<IStream>> owedSnapshots;
    // Snapshots it timed out or refused with no answer in between: a browser that hangs.
    int snapshotsLostInARow = 0;
    // Simulator time of the reload that answered the last failure of its page's process.
    std::optional<double> pageReloadedAt;
    // The page's focus reports (Runtime.bindingCalled), and our handler's registration there.
    Microsoft::WRL::ComPtr<ICoreWebView2DevToolsProtocolEventReceiver> focusReports;
    std::optional<WebView2EventToken> focusReportsToken;
    // The commands that set the reports up, not yet answered; refused, they are told once.
    int focusChannelUnanswered = 0;
    bool focusChannelRefused = false;
    // While set, the page is not loaded yet: it waits for those answers, at most until then
    // (simulator time).
    std::optional<double> pageHeldUntil;
};

// The browser of the moment: none before start, while a new one is waited for, and after stop.
extern std::optional<WebView2Browser> browser;

// True when a completion made for `session` belongs to the browser of the moment.
inline bool isCurrentBrowser(BrowserSession session) { return browser && browser->session == session; }

// ---- webview2_browser.cpp ----

// Asks for a new browser (environment, then composition controller, controller and view).
void bringUpBrowser();

// Lets go of the current browser: removes our handlers from its view, answers every snapshot
// it still owes as failed (`answerOwed`; not at stop, where the capture schedule gives up its
// own), and releases its objects.
void retireBrowser(bool answerOwed);

// ---- webview2_recovery.cpp ----

// The back-off and its flight loop, from startBrowser to stopBrowser.
void startRecovery();
void stopRecovery();

// The browser is lost, hangs or could not be brought up: it is let go of and a new one is
// brought up after the back-off. `what` begins the attempt's one log line. A fault no quick
// retry mends (no runtime installed) waits the longest delay at once.
void browserFailed(const std::string& what, bool atLongestDelay = false);

// The current browser's view is ready; it has answered a snapshot.
void browserStarted();
void browserServed();

// The current browser's view reported one of its processes failed.
void onProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind);

// While the page comes back from a failure, clicks on the last picture are kept and passed on
// once it has loaded (onPageLoaded). True when the click was kept.
bool keepClickUntilThePageIsBack(int pageX, int pageY);
void onPageLoaded();

// ---- webview2_input.cpp ----

// Sets up the page's focus reports for a browser whose view has just come up, and loads its
// page once they are in place (or could not be set up).
void loadPageWithInput(WebView2Browser& current);
// From the recovery flight loop: a page held past its wait is loaded without the reports.
void loadPageIfHeldTooLong();
// True while the current browser's page waits for its focus reports.
bool pageHeld();
// Removes our handler from a browser being let go of.
void stopListeningForFocusReports(WebView2Browser& retired);
// At stop: the next start tells input trouble afresh.
void resetPageInput();

// ---- webview2_page_requests.cpp ----

// Takes over what the page asks of its browser on a view that has just come up: its dialogs
// (WebView2's own turned off), its new windows and its permission requests.
void listenToPageRequests(WebView2Browser& current);
// Removes those handlers from a browser being let go of; a dialog it still waits on is
// cancelled and closed in the panel.
void stopListeningToPageRequests(WebView2Browser& retired);
// The page that asked is gone (its process failed, or its browser): its dialog is cancelled
// and closed in the panel.
void forgetPageDialog(WebView2Browser& current);
// At stop: the next start tells refusals afresh.
void resetPageRequests();

// ---- webview2_snapshot.cpp ----

// Answers every snapshot the browser still owes as failed (a timed-out one is only let go of).
void failOwedSnapshots(WebView2Browser& owner);

// ---- hidden_window.cpp, handler_wait.cpp ----

// Registers the hidden window's class (an earlier load in this process may already have)
// and creates the window, 768 x 512, hidden. Null on failure.
HWND createHiddenWindow(HINSTANCE instance);

// Called by stopBrowser after every reference into the browser is released. While the browser
// still holds completion handlers of this module, pumps the thread's posted and sent messages
// for at most 1 s so it can complete or release them. If some are still held then, pins this
// module, so that their late calls (and final Releases) find its code and are dropped there,
// and says so in one log line. True when the module was pinned.
bool waitForBrowserHandlers();
