// The page in Chromium: its navigations, its zoom and its snapshots.
#include <algorithm>
#include <utility>

#include "browser/chromium/chromium_state.h"
#include "browser/chromium/snapshot_request.h"
#include "browser/devtools/page_commands.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/text_encoding.h"

bool lastDarkScheme = false;

namespace {

// Tags our periodic reloads among the navigations.
constexpr std::uint64_t reloadTag = 1;
// Beyond this a navigation's answer is not waited for: snapshots go ahead, and if they are not
// answered the browser counts as hung.
constexpr std::chrono::seconds navigationCommitWait{10};
constexpr std::size_t failedAtCommitKept = 16;
// More pictures out than the live pipeline and the capture schedule ever ask for at once.
constexpr std::size_t picturesOutKept = 16;
// Navigation trouble (a refused address, a page that does not load) comes back at every reload.
RepeatingLine navigationTrouble;

void tellNavigationTrouble(const char* what, const std::string& why) {
    if (navigationTrouble.due()) debugLog("CV: %s: %s\n", what, why.c_str());
}

// The layout stays; the device scale is the zoom times the page scale, so pictures grow. In
// headless mode the screencast copies a surface of the visible size, which would stay the
// layout's and drop the finer pixels: above scale 1 it is set to the picture's size, and the
// page scaled into it. At scale 1, and for a page zoomed out, the page is shown as it always
// was: Chromium 156 crops a zoomed-out page whose visible size is set apart.
void sendMetrics(ChromiumBrowser& current) {
    const cdp::Viewport v = current.viewport();
    nlohmann::json metrics = {
        {"width", v.layoutWidth}, {"height", v.layoutHeight}, {"deviceScaleFactor", v.deviceScale}, {"mobile", false}};
    const bool scaledView = current.scaledView();
    if (scaledView) metrics.update({{"scale", current.pageScale}, {"dontSetVisibleSize", true}});
    current.sendToPage(cdp::Request::SetViewport, "Emulation.setDeviceMetricsOverride", metrics);
    if (scaledView)
        current.sendToPage(cdp::Request::VisibleSize, "Emulation.setVisibleSize",
                           {{"width", v.pictureWidth}, {"height", v.pictureHeight}});
}

}  // namespace

void sendViewport(ChromiumBrowser& current) {
    sendMetrics(current);
    for (ChromiumBrowser::PictureOut& out : current.picturesOut) out.viewportSentSince = true;
}

namespace {

void sendColorScheme(ChromiumBrowser& current) {
    const devtools::Command command = devtools::colorScheme(current.darkScheme);
    current.sendToPage(cdp::Request::ColorScheme, command.method, command.params);
}

}  // namespace

void setUpPage(ChromiumBrowser& current) {
    current.pageScale = lastPageScale;
    // Before the page loads, so its first paint is in the pilot's scheme.
    current.darkScheme = lastDarkScheme;
    sendColorScheme(current);
    // Zoom steps taken while the browser came up only changed zoomLevel; it is applied now,
    // and a browser started again gets the zoom the pilot last chose the same way.
    // A factor the page would refuse leaves it at 100 %.
    current.pageZoom = cdp::usableZoom(zoomLevel) ? static_cast<double>(zoomLevel) : 1.0;
    sendViewport(current);
    current.bringUpViewportPending = true;
    current.firstNavigationHeld = true;
    current.lastNavigationSent = Clock::now();
}

// The page is loaded once its events are on and its focus reports are set up (answered, either
// way): a commit before the first would go untold, and a navigation that overtakes the
// reports' registration can miss it.
void navigateOnceSetUp(ChromiumBrowser& current) {
    if (!current.firstNavigationHeld || !current.pageEventsAnswered || current.focusChannelUnanswered > 0 ||
        current.connection->lost())
        return;
    current.firstNavigationHeld = false;
    sendNavigate(current, toUtf8(webUrl));
}

void sendNavigate(ChromiumBrowser& current, const std::string& url, std::uint64_t tag) {
    current.sendToPage(cdp::Request::Navigate, "Page.navigate", {{"url", url}}, tag);
    ++current.navigationsUnanswered;
    current.lastNavigationSent = Clock::now();
}

// The page committed a navigation: what it showed is gone, and so may be any snapshot of it
// still out; its dialogs count afresh.
void pageCommitted(ChromiumBrowser& current, const std::string& loader) {
    current.lastCommittedLoader = loader;
    current.dialogFlood.pageLoaded();
    current.loadersUncommitted.clear();
    std::set<CaptureTicket>& failed = current.failedAtCommit;
    for (CaptureTicket ticket : current.owedSnapshots.failAll()) failed.insert(ticket);
    while (failed.size() > failedAtCommitKept) failed.erase(failed.begin());
}

void snapshotAnswered(ChromiumBrowser& current, cdp::Completion& answer) {
    // Any answer shows the browser alive, a late one to a snapshot given up on included.
    current.owedSnapshots.settle(answer.tag);
    current.hangWatch.answered();
    if (answer.ok) browserServed();
    // Exactly once per started snapshot: one answered at a commit already was; the schedule
    // drops one it gave up on.
    if (current.failedAtCommit.erase(answer.tag) != 0) return;
    onBrowserSnapshot(answer.tag, answer.ok, std::move(answer.snapshot));
}

void pictureAsked(ChromiumBrowser& current, cdp::Request request, std::uint64_t tag) {
    // One never answered (the browser drops some at a commit) is forgotten with the oldest.
    if (current.picturesOut.size() >= picturesOutKept) current.picturesOut.erase(current.picturesOut.begin());
    current.picturesOut.push_back({request, tag, false});
}

void pictureAnswered(ChromiumBrowser& current, const cdp::Completion& answer) {
    auto& out = current.picturesOut;
    const auto it = std::find_if(out.begin(), out.end(), [&](const ChromiumBrowser::PictureOut& p) {
        return p.request == answer.request && p.tag == answer.tag;
    });
    if (it == out.end()) return;
    const bool undone = it->viewportSentSince;
    out.erase(it);
    // Sent again as it is: the pictures asked for since began under it, and put it back.
    if (undone && current.stage == ChromiumBrowser::Stage::Ready) sendMetrics(current);
}

void viewportAnswered(ChromiumBrowser& current, const cdp::Completion& c) {
    if (std::exchange(current.bringUpViewportPending, false)) {
        if (!c.ok) bringUpFailed("Emulation.setDeviceMetricsOverride", c.text);
    } else if (!c.ok) {
        debugLog("CV: the browser refused the zoom factor: %s\n", c.text.c_str());
    }
}

// A browser without the (deprecated) visible size keeps its layout's surface: its page is laid
// out again without the scale into it, frames at the layout's size.
void visibleSizeAnswered(ChromiumBrowser& current, const cdp::Completion& c) {
    if (c.ok || std::exchange(current.visibleSizeRefused, true)) return;
    debugLog("CV: the browser cannot set its visible size (%s); live frames stay at the page's layout size.\n",
             c.text.c_str());
    sendViewport(current);
}

void pageEventsAnswered(ChromiumBrowser& current, const cdp::Completion& c) {
    // Refused, there is no commit to wait for: snapshots wait only for navigations' answers.
    current.pageEventsOn = c.ok;
    current.pageEventsAnswered = true;
    navigateOnceSetUp(current);
}

void navigationAnswered(ChromiumBrowser& current, const cdp::Completion& c) {
    if (current.navigationsUnanswered > 0) --current.navigationsUnanswered;
    if (c.tag == reloadTag && current.reloadsUnanswered > 0) --current.reloadsUnanswered;
    // Accepted, it commits a little later (its commit may also have come first).
    if (current.pageEventsOn && c.ok && c.text.empty() && !c.value.empty() && c.value != current.lastCommittedLoader)
        current.loadersUncommitted.insert(c.value);
    // As on Windows, an address the browser refuses (an empty or malformed "WebURL") leaves the
    // view as it was: it stays ready, snapshots go on and each reload tries again.
    if (!c.ok) {
        tellNavigationTrouble("navigation failed", c.text);
    } else if (!c.text.empty()) {
        // The browser shows its error page.
        tellNavigationTrouble("the page could not be loaded", c.text);
    } else {
        navigationTrouble.clear();
    }
}

void resetPage() { navigationTrouble.clear(); }

void navigateBrowser(const std::wstring& url) {
    if (!browserViewReady()) return;
    guarded("CV: could not navigate", [&] {
        sendNavigate(*browser, toUtf8(url), reloadTag);
        ++browser->reloadsUnanswered;
    });
}

void goBrowserBack() {
    if (!browserViewReady()) return;
    guarded("CV: could not go back", [] {
        const devtools::Command command = devtools::historyBack();
        browser->sendToPage(cdp::Request::GoBack, command.method, command.params);
    });
}

void setBrowserColorScheme(bool dark) {
    lastDarkScheme = dark;
    if (!browserViewReady() || browser->darkScheme == dark) return;
    guarded("CV: could not change the page's colour scheme", [dark] {
        browser->darkScheme = dark;
        sendColorScheme(*browser);
    });
}

void setBrowserZoom(double factor) {
    // Refused like the controller refuses it: the page keeps its zoom.
    if (!browserViewReady() || !cdp::usableZoom(factor)) return;
    guarded("CV: could not zoom", [&] {
        browser->pageZoom = factor;
        sendViewport(*browser);
    });
}

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (!browserViewReady()) return false;
    ChromiumBrowser& current = *browser;
    // Asked again at the next due check, when the page has committed.
    if (current.firstNavigationHeld || current.navigationsUnanswered > 0 || !current.loadersUncommitted.empty()) {
        if (Clock::now() - current.lastNavigationSent < navigationCommitWait) return false;
        // A navigation that never commits (an answer that is a download, or no content) is
        // not waited for any longer.
        current.loadersUncommitted.clear();
    }
    // A failure to send it throws to the capture schedule, which reports it.
    current.sendToPage(cdp::Request::Snapshot, "Page.captureScreenshot",
                       cdp::snapshotParams(current.viewport(), !current.scaledView()), ticket);
    current.owedSnapshots.add(ticket);
    pictureAsked(current, cdp::Request::Snapshot, ticket);
    return true;
}

bool startBrowserCheck(CaptureTicket ticket) {
    if (!browserViewReady()) return false;
    const devtools::Command command = devtools::pageCheck();
    browser->sendToPage(cdp::Request::Check, command.method, command.params, ticket);
    browser->owedSnapshots.add(ticket);
    return true;
}

void browserSnapshotTimedOut(CaptureTicket ticket) {
    guarded("CV: browser backend error", [ticket] {
        if (!browser || !browser->owedSnapshots.settle(ticket) || !browserViewReady()) return;
        if (browser->hangWatch.snapshotLost()) restartLater(HangWatch::line);
    });
}
