#include "pipeline/live_frames.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <utility>

#include "browser/browser.h"
#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// A screencast that has sent nothing this long after its start is taken to be one that never
// will (a browser that does not paint for it). Wall-clock time: it measures the browser, whose
// painting does not follow the simulator's clock.
constexpr auto firstFrameWait = std::chrono::seconds(3);
// A picture wanted at once (a panel shown, a page loaded, a new browser) is one snapshot, for a
// browser that does not paint for its screencast. While one runs, the snapshot waits for its
// next frame (Chromium sends one at each start and after each load), or this long: asked for
// at the same moment, a snapshot holds that frame back by half a second or more.
constexpr double frameForWantedPicture = 0.3;
// A still page sends nothing, and so would a hung browser: after this long without a frame the
// browser is checked. A check that times out is followed at once by the next, so a hung browser
// meets the capture schedule's hang rule about a minute after its last frame. A check, not a
// snapshot: a snapshot makes the page paint, and its screencast then sends frames of it too.
constexpr double quietCheckPeriod = 30.0;

bool screencastRunning = false;
// The screencast's frames are wanted: read by the thread that hands them over.
std::atomic<bool> takingFrames{false};
Clock::time_point screencastStartedAt;
// Set by each frame, on whichever thread handed it over.
std::atomic<bool> frameSinceStart{false};
// Taken by the next flight loop: when the screencast was last heard from.
std::atomic<bool> frameSinceCheck{false};
double lastHeardAt = 0.0;
// For the browser's life: its screencast failed, so it is shown by snapshots.
bool fellBack = false;
// The page scale last passed on; 0 before the first.
double appliedScale = 0.0;
bool pictureWanted = false;
double pictureWantedAt = -1.0;  // negative: from the next flight loop on
std::atomic<bool> frameSinceWanted{false};
WantedNow wanted = WantedNow::Nothing;

void setRunning(bool running) {
    screencastRunning = running;
    takingFrames = running;
}

void fallBack(const char* why) {
    setRunning(false);
    if (fellBack) return;
    fellBack = true;
    debugLog("CV: no live frames from the browser (%s); showing snapshots twice a second instead.\n", why);
}

// A check of the browser, unless a snapshot (which is one too) is already wanted.
void wantCheck() {
    if (wanted == WantedNow::Nothing) wanted = WantedNow::Check;
}

void wantPicture(double now) {
    pictureWanted = true;
    pictureWantedAt = now;
    frameSinceWanted = false;
}

void askForWantedPicture(double now) {
    if (!pictureWanted) return;
    if (pictureWantedAt < 0.0) pictureWantedAt = now;
    if (screencastRunning && !frameSinceWanted && now - pictureWantedAt <= frameForWantedPicture) return;
    pictureWanted = false;
    wanted = WantedNow::Snapshot;
}

void stopScreencast() {
    if (!screencastRunning) return;
    setRunning(false);
    stopBrowserScreencast();
}

void startScreencast(double now) {
    if (!startBrowserScreencast()) {
        fallBack("the browser could not start a screencast");
        return;
    }
    setRunning(true);
    screencastStartedAt = Clock::now();
    lastHeardAt = now;
    frameSinceStart = false;
    frameSinceCheck = false;
    // The page may not paint again for a while: the panel shows it now.
    wantPicture(now);
}

}  // namespace

void runLiveFrames(double now) {
    askForWantedPicture(now);
    const double scale = wantedPageScale();
    if (scale != appliedScale) {
        appliedScale = scale;
        setBrowserPageScale(scale);
    }
    const PanelAnswer panel = askPanel();
    if (frameSource != FrameSource::Live || fellBack || !panel.capture || !browserViewReady()) {
        stopScreencast();
        return;
    }
    if (!screencastRunning) {
        startScreencast(now);
        return;
    }
    if (frameSinceCheck.exchange(false)) lastHeardAt = now;
    if (panel.paused) return;
    if (!frameSinceStart && Clock::now() - screencastStartedAt > firstFrameWait) {
        stopScreencast();
        fallBack("the screencast sent no frame within 3 s");
    } else if (now - lastHeardAt > quietCheckPeriod) {
        lastHeardAt = now;
        wantCheck();
    }
}

bool snapshotsScheduled() { return frameSource == FrameSource::Snapshots || fellBack; }

WantedNow wantedNow() { return wanted; }
void wantedStarted() { wanted = WantedNow::Nothing; }

void liveSnapshotTimedOut() {
    if (screencastRunning) wantCheck();
}

void stopLiveFrames() { guarded("CV: could not stop the screencast", stopScreencast); }

void resetLiveFrames() {
    setRunning(false);
    frameSinceStart = false;
    fellBack = false;
    appliedScale = 0.0;
    wanted = WantedNow::Nothing;
    pictureWanted = false;
}

namespace {

// Queues a frame for the decode thread, on any thread; throws only when the queue cannot grow.
void queueFrame(PngBuffer& frame) {
    {
        // The queue holds one picture at most: a frame the decode thread has not taken yet is
        // replaced by the newer one.
        std::lock_guard<std::mutex> lock(queueMutex);
        if (pngQueue.empty())
            pngQueue.push_back(std::move(frame));
        else
            pngQueue.back() = std::move(frame);
    }
    frameSinceStart = true;
    frameSinceCheck = true;
    frameSinceWanted = true;
    queueCondition.notify_one();
}

}  // namespace

bool takeBrowserFrameNow(PngBuffer& frame) noexcept {
    if (!takingFrames || frame.empty()) return false;
    try {
        queueFrame(frame);
        return true;
    } catch (...) {
        // Left with the caller, whose main thread passes it on (and tells a failure).
        return false;
    }
}

void onBrowserFrame(PngBuffer frame) {
    guarded("CV: could not queue a frame", [&] {
        if (screencastRunning && !frame.empty()) queueFrame(frame);
    });
}

void onBrowserScreencastEnded(const char* why) {
    guarded("CV: could not end the screencast", [&] {
        if (frameSource == FrameSource::Live) fallBack(why);
    });
}

void onBrowserStarted() {
    guarded("CV: could not follow the new browser", [&] {
        setRunning(false);
        frameSinceStart = false;
        fellBack = false;
        wantPicture(-1.0);
        // A browser started again takes the latest scale at its bring-up.
    });
}

void onBrowserPageLoaded() { wantPicture(-1.0); }
