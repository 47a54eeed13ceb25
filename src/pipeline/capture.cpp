#include "pipeline/capture.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <utility>

#include "browser/browser.h"
#include "pipeline/decode_worker.h"
#include "pipeline/live_frames.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double captureCheckPeriod = 0.5;  // seconds of simulator time
// A browser that has not answered a snapshot by then is hung or has lost it; the schedule
// must not wait for it forever. Wall-clock time: it measures the browser, not the simulator.
constexpr auto captureTimeout = std::chrono::seconds(10);

CaptureTicket lastTicket = 0;
CaptureTicket ticketInFlight = 0;
Clock::time_point captureStartedAt;

// Lines that could otherwise come twice a second: a browser coming up or lost, snapshots
// that cannot be started (out of memory, for one) or that time out.
RepeatingLine viewMissingLine;
RepeatingLine snapshotStartTrouble;
RepeatingLine timedOutLine;
RepeatingLine lateAnswerLine;

void tellSnapshotStartTrouble(const char* why) {
    if (snapshotStartTrouble.due()) debugLog("CV: could not start a snapshot (%s); trying again.\n", why);
}

void endCapture() {
    ticketInFlight = 0;
    captureInFlight.store(false);
}

// Gives up on a snapshot the browser has not answered in time, so the schedule can ask again.
void expireCapture() {
    if (!captureInFlight.load() || Clock::now() - captureStartedAt < captureTimeout) return;
    const CaptureTicket expired = ticketInFlight;
    endCapture();
    if (timedOutLine.due()) XPLMDebugString("CV: the browser did not answer a snapshot within 10 s; asking again.\n");
    browserSnapshotTimedOut(expired);
    liveSnapshotTimedOut();
}

// What became of a request for a snapshot: started, not asked of the browser now (no panel or
// view, a snapshot out, a decode behind), or asked and refused (or failed to be sent).
enum class CaptureStart { Started, NotNow, Refused };

// Starts one snapshot, or a check of the browser without a picture, if the panel wants
// pictures and the browser can take one.
CaptureStart startCapture(bool checkOnly = false) {
    if (!askPanel().capture) return CaptureStart::NotNow;
    if (!browserViewReady()) {
        if (viewMissingLine.due()) XPLMDebugString("CV: error, could not lookup our Webview.\n");
        return CaptureStart::NotNow;
    }
    viewMissingLine.clear();
    // A decode thread short of processor time is let catch up first: asking on would grow the
    // queue without end, and the panel would fall further behind the page with each snapshot.
    if (decodeBacklog()) return CaptureStart::NotNow;
    bool expected = false;
    if (!captureInFlight.compare_exchange_strong(expected, true)) return CaptureStart::NotNow;
    ticketInFlight = ++lastTicket;
    captureStartedAt = Clock::now();
    bool started = false;
    try {
        started = checkOnly ? startBrowserCheck(ticketInFlight) : startBrowserSnapshot(ticketInFlight);
        if (started) snapshotStartTrouble.clear();
    } catch (const std::exception& e) {
        tellSnapshotStartTrouble(e.what());
    } catch (...) {
        tellSnapshotStartTrouble("unknown error");
    }
    // A request that never got under way has no completion to clear the flag, and a flag left
    // set would stop snapshots for the rest of the session.
    if (!started) endCapture();
    return started ? CaptureStart::Started : CaptureStart::Refused;
}

}  // namespace

float PanelFlightLoop(float, float, int, void*) {
    guarded("CV: flight loop failed", [&] {
        const double now = static_cast<double>(XPLMGetElapsedTime());
        runLiveFrames(now);
        if (now - lastCaptureTime > captureCheckPeriod) {
            if (askPanel().paused) {
                // The page is blocked until the pilot answers: a snapshot still out is answered
                // afterwards, and its time-out counts from then.
                captureStartedAt = Clock::now();
            } else {
                expireCapture();
                // Without a view, asking tells the log the browser is missing.
                if (snapshotsScheduled() || !browserViewReady()) RequestCapture();
            }
            lastCaptureTime = now;
        }
        // One picture at once when the page may not paint again by itself (a panel just shown,
        // a page just loaded), or a check of a browser whose screencast has been quiet for long,
        // whatever the schedule. A browser that refuses it leaves it to the schedule, or it
        // would be asked at every frame.
        const WantedNow wanted = wantedNow();
        if (wanted != WantedNow::Nothing && !askPanel().paused &&
            startCapture(wanted == WantedNow::Check) != CaptureStart::NotNow)
            wantedStarted();
        // A fresh navigation to the configured page, also replacing a page reached by clicks.
        // Not while the pilot types into the page, which it would wipe, nor while the page waits
        // for the answer to its dialog: it comes once the keyboard is back with the simulator.
        if (refreshWebPageSecs > 0 && now - lastRefreshTime > static_cast<double>(refreshWebPageSecs) &&
            askPanel().reload) {
            if (browserViewReady()) navigateBrowser(webUrl);
            lastRefreshTime = now;
        }
    });
    return -1.0f;
}

void RequestCapture() { startCapture(); }

namespace {

bool pageTakesCommands(const char* what) {
    // The page is blocked until the pilot answers its dialog, which the panel shows.
    if (askPanel().paused) {
        debugLog("CV: the page waits for the answer to its dialog; answer it, then %s.\n", what);
        return false;
    }
    if (!browserViewReady()) {
        debugLog("CV: the browser is not up yet; it cannot %s.\n", what);
        return false;
    }
    return true;
}

}  // namespace

void reloadPageNow() {
    if (!pageTakesCommands("reload the page")) return;
    navigateBrowser(webUrl);
    // The periodic reload counts its period from this one.
    lastRefreshTime = static_cast<double>(XPLMGetElapsedTime());
}

void pageBackNow() {
    if (pageTakesCommands("go back")) goBrowserBack();
}

void onBrowserSnapshot(CaptureTicket ticket, bool succeeded, PngBuffer snapshot) {
    if (ticket == 0 || ticket != ticketInFlight) {
        if (lateAnswerLine.due()) XPLMDebugString("CV: dropped a snapshot that arrived after its time-out.\n");
        return;
    }
    ticketInFlight = 0;
    timedOutLine.clear();
    OnCaptureCompleted(succeeded, std::move(snapshot));
}

void OnCaptureCompleted(bool succeeded, PngBuffer snapshot) {
    guarded("CV: could not queue a snapshot", [&] {
        if (succeeded && !snapshot.empty()) {
            {
                std::lock_guard<std::mutex> lock(queueMutex);
                pngQueue.push_back(std::move(snapshot));
            }
            queueCondition.notify_one();
        }
    });
    // Every completion, good or bad, lets the next due check ask for a new snapshot.
    captureInFlight.store(false);
}

bool decodeBacklog() {
    std::lock_guard<std::mutex> lock(queueMutex);
    return !pngQueue.empty();
}

void abandonCapture() { endCapture(); }
