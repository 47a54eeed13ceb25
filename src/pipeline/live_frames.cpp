#include "pipeline/live_frames.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
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
// A page that paints at every frame is shown by shots instead of its screencast: for a running
// screencast Chromium copies each frame it draws, 60 a second, and a shot asked for at the
// simulator's pace costs it about two thirds of that (docs/performance.md). A page counts as
// busy from this many frames in a simulated second; its shots go at most this often, this many
// asked at once (each takes the browser 90 to 140 ms to answer: with three, the rate fell short).
// After this many shots in a row of the same picture the page is still again, and its
// screencast is what costs nothing then.
constexpr int busyFramesPerSecond = 15;
constexpr double shotPeriod = 1.0 / 28.0;
constexpr std::size_t shotsAtOnce = 4;
constexpr int stillShots = 10;
// A shot not answered this long after it was asked for: the page is navigating or blocked by a
// dialog, or the browser hangs. The screencast, started again, is what tells which.
constexpr double shotWait = 1.0;

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

// Frames handed over since counting began, for telling a busy page.
std::atomic<int> framesCounted{0};
double countingSince = -1.0;
bool shooting = false;
// Shots are wanted: read by the thread that hands them over.
std::atomic<bool> takingShots{false};
// For the browser's life: it took no shot, or failed one.
bool shotsUnavailable = false;
struct ShotOut {
    CaptureTicket ticket;
    double askedAt;
};
std::deque<ShotOut> shotsOut;
CaptureTicket lastShotTicket = 0;
double nextShotAt = 0.0;
// The shots in a row that brought the picture before them again, and that picture's hash.
std::atomic<int> unchangedShots{0};
std::atomic<std::size_t> lastShotHash{0};

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
    if ((screencastRunning || shooting) && !frameSinceWanted && now - pictureWantedAt <= frameForWantedPicture) return;
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
    countingSince = now;
    framesCounted = 0;
    // The page may not paint again for a while: the panel shows it now.
    wantPicture(now);
}

void stopShots() {
    if (!shooting) return;
    shooting = false;
    takingShots = false;
    shotsOut.clear();
}

// Asks for the next shot. False when the browser takes none: it is not asked again.
bool askShot(double now) {
    if (!startBrowserShot(lastShotTicket + 1)) {
        shotsUnavailable = true;
        return false;
    }
    shotsOut.push_back({++lastShotTicket, now});
    // On the period's grid, one behind at most: no burst after a slow frame.
    nextShotAt = std::max(nextShotAt, now - shotPeriod) + shotPeriod;
    return true;
}

void startShots(double now) {
    unchangedShots = 0;
    lastShotHash = 0;
    nextShotAt = now;
    // A browser that takes none keeps its screencast running.
    if (!askShot(now)) return;
    stopScreencast();
    shooting = true;
    takingShots = true;
}

// A page painting at this rate is shown by shots from now on.
void watchFrameRate(double now) {
    if (now < countingSince) countingSince = now;  // the simulator's clock was reset
    const double span = now - countingSince;
    if (span < 1.0) return;
    const int frames = framesCounted.exchange(0);
    countingSince = now;
    if (!shotsUnavailable && frames >= busyFramesPerSecond * span) startShots(now);
}

void shoot(double now) {
    const bool unanswered = !shotsOut.empty() && now - shotsOut.front().askedAt > shotWait;
    if (shotsUnavailable || unanswered || unchangedShots >= stillShots) {
        stopShots();
        startScreencast(now);
        // Its frames made the page busy: a first one that is slow to come now is a page blocked
        // by a dialog or a browser that hangs, which the quiet check tells, not a browser that
        // never paints for a screencast.
        frameSinceStart = true;
        return;
    }
    // A quarter period early is on time: flight loops at twice the rate meet the grid only to
    // within rounding, and shots put off to the next loop each time would lose a third of it.
    if (shotsOut.size() < shotsAtOnce && now >= nextShotAt - shotPeriod / 4) askShot(now);
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
        stopShots();
        stopScreencast();
        return;
    }
    if (!screencastRunning && !shooting) {
        startScreencast(now);
        return;
    }
    if (frameSinceCheck.exchange(false)) lastHeardAt = now;
    if (panel.paused) return;
    if (shooting) {
        shoot(now);
    } else if (!frameSinceStart && Clock::now() - screencastStartedAt > firstFrameWait) {
        stopScreencast();
        fallBack("the screencast sent no frame within 3 s");
        return;
    } else {
        watchFrameRate(now);
    }
    if (now - lastHeardAt > quietCheckPeriod) {
        lastHeardAt = now;
        wantCheck();
    }
}

bool snapshotsScheduled() { return frameSource == FrameSource::Snapshots || fellBack; }

WantedNow wantedNow() { return wanted; }
void wantedStarted() { wanted = WantedNow::Nothing; }

void liveSnapshotTimedOut() {
    if (screencastRunning || shooting) wantCheck();
}

void stopLiveFrames() {
    guarded("CV: could not stop the screencast", [] {
        stopShots();
        stopScreencast();
    });
}

void resetLiveFrames() {
    stopShots();
    shotsUnavailable = false;
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

// Queues a screencast's frame, counted for telling a busy page; throws as queueFrame.
void queueScreencastFrame(PngBuffer& frame) {
    queueFrame(frame);
    ++framesCounted;
}

// Queues a shot that brings a new picture; throws only when the queue cannot grow.
void queueShot(PngBuffer& shot) {
    const std::string_view bytes(reinterpret_cast<const char*>(shot.bytes.data()), shot.size());
    const std::size_t hash = std::hash<std::string_view>{}(bytes);
    if (lastShotHash.exchange(hash) != hash) {
        unchangedShots = 0;
        queueFrame(shot);
        return;
    }
    // The page has not changed: nothing to decode, and a sign of life all the same.
    ++unchangedShots;
    frameSinceCheck = true;
    frameSinceWanted = true;
    shot = PngBuffer{};
}

}  // namespace

bool takeBrowserFrameNow(PngBuffer& frame) noexcept {
    if (!takingFrames || frame.empty()) return false;
    try {
        queueScreencastFrame(frame);
        return true;
    } catch (...) {
        // Left with the caller, whose main thread passes it on (and tells a failure).
        return false;
    }
}

void onBrowserFrame(PngBuffer frame) {
    guarded("CV: could not queue a frame", [&] {
        if (screencastRunning && !frame.empty()) queueScreencastFrame(frame);
    });
}

bool takeBrowserShotNow(PngBuffer& shot) noexcept {
    if (!takingShots || shot.empty()) return false;
    try {
        queueShot(shot);
        return true;
    } catch (...) {
        return false;
    }
}

void onBrowserShot(CaptureTicket ticket, bool succeeded, PngBuffer shot, const char* why) {
    guarded("CV: could not take a picture of the page", [&] {
        const auto out =
            std::find_if(shotsOut.begin(), shotsOut.end(), [ticket](const ShotOut& s) { return s.ticket == ticket; });
        // One asked for before the shots last stopped is not wanted any more.
        if (out == shotsOut.end()) return;
        shotsOut.erase(out);
        if (!succeeded) {
            if (!shotsUnavailable)
                debugLog("CV: the browser could not take a picture of the busy page (%s); its screencast goes on.\n",
                         why);
            shotsUnavailable = true;
            return;
        }
        if (!shot.empty()) queueShot(shot);
    });
}

void onBrowserScreencastEnded(const char* why) {
    guarded("CV: could not end the screencast", [&] {
        if (frameSource == FrameSource::Live) fallBack(why);
    });
}

void onBrowserStarted() {
    guarded("CV: could not follow the new browser", [&] {
        stopShots();
        shotsUnavailable = false;
        setRunning(false);
        frameSinceStart = false;
        fellBack = false;
        wantPicture(-1.0);
        // A browser started again takes the latest scale at its bring-up.
    });
}

void onBrowserPageLoaded() { wantPicture(-1.0); }
