// The panel's browser comes back by itself. WebView2 runs its browser in processes of its own,
// and tells the view when one of them fails (ProcessFailed):
// - the browser process: the view is closed for good, so the whole browser is let go of and a
//   new one brought up after the back-off, with the zoom and address of the moment;
// - the page's process exited or hangs: the configured page is loaded again; a second failure
//   within the back-off's memory (5 minutes) after such a reload counts as a lost browser;
// - the GPU and other helper processes: WebView2 starts new ones itself; one log line.
// A bring-up that fails, and a browser that stops answering snapshots, are treated as a lost
// browser too. The back-off counts on the simulator's elapsed time, as the capture schedule
// does (X-Plane's elapsed time runs with the wall clock, paused or not).
#include <chrono>
#include <utility>
#include <vector>

#include "browser/browser.h"
#include "browser/browser_policy.h"
#include "browser/restart_backoff.h"
#include "browser/webview2/webview2_state.h"
#include "platform/flight_loop.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

// Clicks kept while the page comes back, at most: a pilot clicking on and on at a frozen panel
// wants the first of them, not a burst of replays.
constexpr std::size_t keptClicksMost = 4;
// A page that has not reported its load by then is given the kept clicks anyway.
constexpr double pageLoadWait = 10.0;
// A page whose process fails again this soon after the reload that answered its last failure
// is not mended by reloads: as long as the back-off remembers faults.
constexpr double pageFailureMemory = std::chrono::duration<double>(RestartBackoff::healthyAfter).count();

RestartBackoff backoff;
std::optional<double> restartAt;  // simulator time the next browser is due
// A browser of this start has shown its page: the panel keeps that picture through a failure,
// and clicks on it are kept for the page that comes back.
bool pageShown = false;
bool keepingClicks = false;
std::optional<double> keptClicksDeadline;
std::vector<std::pair<int, int>> keptClicks;
// Helper processes may fail over and over; WebView2 mends them itself.
RepeatingLine helperProcessLine;

float RecoveryFlightLoop(float, float, int, void*) {
    guarded("CV: browser backend error", [] {
        const double time = now();
        if (restartAt && time >= *restartAt) {
            restartAt.reset();
            try {
                bringUpBrowser();
            } catch (...) {
                // Out of memory, say: a failed attempt like any other, tried again later.
                browserFailed("CV: error while bringing up the browser");
            }
        }
        if (keptClicksDeadline && time >= *keptClicksDeadline) onPageLoaded();
        loadPageIfHeldTooLong();
    });
    return -1.0f;
}
FlightLoop recoveryLoop{RecoveryFlightLoop};

void keepClicksUntilThePageLoads() {
    keepingClicks = pageShown;
    keptClicksDeadline.reset();
}

void pageFailed(const std::string& what) {
    WebView2Browser& current = *browser;
    const double time = now();
    if (current.pageReloadedAt && time - *current.pageReloadedAt < pageFailureMemory)
        return browserFailed(what + " again after a reload");
    current.pageReloadedAt = time;
    logLine(what + "; loading the page again.\n");
    // Whatever text element had the focus, and whatever the page asked, went with its process.
    onBrowserTextFocus(false);
    forgetPageDialog(current);
    keepClicksUntilThePageLoads();
    keptClicksDeadline = time + pageLoadWait;
    // A view that cannot even navigate is of no more use.
    if (FAILED(current.webView->Navigate(webUrl.c_str())))
        browserFailed(what + " and the view refuses to load the page");
}

}  // namespace

void startRecovery() {
    backoff = RestartBackoff{};
    recoveryLoop.start();
}

void stopRecovery() {
    recoveryLoop.stop();
    restartAt.reset();
    pageShown = false;
    keepingClicks = false;
    keptClicksDeadline.reset();
    keptClicks.clear();
    helperProcessLine.clear();
}

void browserFailed(const std::string& what, bool atLongestDelay) {
    retireBrowser(true);
    keepClicksUntilThePageLoads();
    restartAt = now() + static_cast<double>(nextBrowserAfter(backoff, what, atLongestDelay).count());
}

void browserStarted() {
    backoff.started();
    pageShown = true;
    if (keepingClicks) keptClicksDeadline = now() + pageLoadWait;
}

void browserServed() { backoff.served(RestartBackoff::Time(now())); }

void onProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
        return browserFailed("CV: WebView2's browser process exited");
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
        return pageFailed("CV: WebView2's page process exited");
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
        return pageFailed("CV: WebView2's page stopped responding");
    case COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED:
        if (helperProcessLine.due())
            XPLMDebugString("CV: WebView2's GPU process exited; WebView2 starts a new one itself.\n");
        break;
    default:
        if (helperProcessLine.due())
            debugLog("CV: a WebView2 helper process failed (kind %d); WebView2 starts a new one itself.\n",
                     static_cast<int>(kind));
        break;
    }
}

bool keepClickUntilThePageIsBack(int pageX, int pageY) {
    if (!keepingClicks) return false;
    if (keptClicks.size() < keptClicksMost) keptClicks.emplace_back(pageX, pageY);
    return true;
}

void onPageLoaded() {
    if (!keepingClicks) return;
    keepingClicks = false;
    keptClicksDeadline.reset();
    std::vector<std::pair<int, int>> clicks;
    clicks.swap(keptClicks);
    for (const auto& [x, y] : clicks) sendBrowserClick(x, y);
}
