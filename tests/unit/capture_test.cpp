// The capture schedule when starting a snapshot throws: the request is dropped, told once,
// and capturing goes on; while the decode thread is behind, no snapshot is asked for; and
// snapshots the schedule gives up on tell the backend when its browser hangs. The Linux
// backend runs in-process against the fake DevTools peer; the failure is an allocation made
// to fail while the snapshot request is being built.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "allocation_failure.h"
#include "browser/browser.h"
#include "panel/page_dialog.h"
#include "panel/panel_input.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
#include "pipeline/live_frames.h"
#include "plugin/settings.h"
#include "processes.h"
#include "test_host.h"

namespace {

namespace fs = std::filesystem;

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        testHost();
        std::string pattern = (fs::temp_directory_path() / "cv_capture_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        setenv("XDG_DATA_HOME", (folder_ / "data").c_str(), 1);
        setenv("CV_FAKE_CDP_LOG", (folder_ / "fake.log").c_str(), 1);
        settingsIni.SetValue("General", "BrowserPath", CV_FAKE_CDP_PATH);
        makePanelLikeWindow(100, 980, 868, 468);
        newLogText();
    }
    void TearDown() override {
        stopBrowser();
        destroyPanelWindow();
        settingsIni.Reset();
        captureInFlight = false;
        refreshWebPageSecs = keptRefreshSecs_;
        emptyDecodeQueue();
        unsetenv("XDG_DATA_HOME");
        unsetenv("CV_FAKE_CDP_LOG");
        unsetenv("CV_FAKE_CDP_CUES");
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    // Runs frames until `done` holds, for at most 20 s.
    bool framesUntil(const std::function<bool()>& done) {
        std::string error;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > giveUp || !testHost().run("frames 1", error)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // No decode thread runs in these tests; this takes what it would have taken.
    static void emptyDecodeQueue() {
        std::lock_guard<std::mutex> lock(queueMutex);
        pngQueue.clear();
    }
    // The fake's cues (see tools/fake_cdp), read when the browser starts.
    void cues(const std::string& text) {
        std::ofstream(folder_ / "cues.txt") << text;
        setenv("CV_FAKE_CDP_CUES", (folder_ / "cues.txt").c_str(), 1);
    }
    int snapshotsAskedFor() const {
        return testprocs::countOccurrences(testprocs::slurp(folder_ / "fake.log"), "\nPage.captureScreenshot ");
    }

    // The browser up and one snapshot answered: the page is there, as none starts while the
    // bring-up's navigation is still unanswered.
    void startWithAFirstSnapshot() {
        startBrowser();
        ASSERT_TRUE(framesUntil([] {
            RequestCapture();
            return captureInFlight.load();
        })) << newLogText();
        ASSERT_TRUE(framesUntil([] { return !captureInFlight.load(); }));
    }

    fs::path folder_;
    const int keptRefreshSecs_ = refreshWebPageSecs;
};

// While the decode thread is behind, no snapshot is asked for; one whose start throws is
// dropped, told once, and capturing goes on.
TEST_F(CaptureTest, NoSnapshotIsAskedForWhileTheDecodeThreadIsBehindAndAnExceptionAtItsStartIsToldOnce) {
    ASSERT_NO_FATAL_FAILURE(startWithAFirstSnapshot());
    // What the completion queued is still waiting for the decode thread.
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        ASSERT_EQ(pngQueue.size(), 1u);
    }
    RequestCapture();
    EXPECT_FALSE(captureInFlight);
    EXPECT_EQ(snapshotsAskedFor(), 1);

    emptyDecodeQueue();
    newLogText();
    for (int attempt = 0; attempt < 2; ++attempt) {
        failNextAllocationOnThisThread();
        RequestCapture();
        allowAllocationsOnThisThread();
        EXPECT_FALSE(captureInFlight) << "attempt " << attempt;
    }
    EXPECT_EQ(newLogText(), "CV: could not start a snapshot (std::bad_alloc); trying again.\n");

    RequestCapture();
    EXPECT_TRUE(captureInFlight);
    EXPECT_TRUE(framesUntil([] { return !captureInFlight.load(); }));
    EXPECT_EQ(snapshotsAskedFor(), 2);
    EXPECT_EQ(newLogText(), "");
}

// The schedule's time-outs reach the backend: three in a row are a hung browser, which is
// replaced; any answer in between, a late one included, shows it alive and starts the count
// again. The tickets stand for snapshots, and checks of a still page, the schedule asked for
// and gave up on.
TEST_F(CaptureTest, ThreeSnapshotsUnansweredInARowAreAHungBrowserAndAnyAnswerStartsTheCountAgain) {
    cues("late 2 1\nhang 3+\n");  // the second snapshot is answered a second late, later ones never
    ASSERT_NO_FATAL_FAILURE(startWithAFirstSnapshot());
    std::string log = newLogText();
    auto logSoFar = [&log] { return log += newLogText(); };
    auto askAndGiveUp = [](CaptureTicket ticket, bool (*start)(CaptureTicket) = startBrowserSnapshot) {
        ASSERT_TRUE(start(ticket));
        browserSnapshotTimedOut(ticket);
    };
    const std::string hung = "CV: the browser did not answer 3 snapshots in a row";

    askAndGiveUp(101);
    askAndGiveUp(102);
    ASSERT_TRUE(framesUntil([&] { return logSoFar().find("CV: dropped a snapshot") != std::string::npos; }));
    askAndGiveUp(103);
    askAndGiveUp(104, startBrowserCheck);
    EXPECT_EQ(logSoFar().find(hung), std::string::npos) << log;
    EXPECT_TRUE(browserViewReady());

    askAndGiveUp(105, startBrowserCheck);
    EXPECT_NE(logSoFar().find(hung + "; trying again in 1 s (attempt 1).\n"), std::string::npos) << log;
    EXPECT_FALSE(browserViewReady());
}

// A still page's screencast sends nothing after its first frame, and neither would a hung
// browser's: after 30 s without a frame the page is checked, and the check is answered without
// a picture. A snapshot would make the page paint, and its screencast send that too.
TEST_F(CaptureTest, AQuietScreencastHasThePageCheckedNotPhotographed) {
    frameSource = FrameSource::Live;
    refreshWebPageSecs = 0;  // still: not even reloaded
    startBrowser();
    ASSERT_TRUE(framesUntil(browserViewReady));
    auto fakeLog = [this] { return testprocs::slurp(folder_ / "fake.log"); };
    // The screencast's first frame, and the one snapshot taken whenever the panel is shown.
    ASSERT_TRUE(framesUntil([&] {
        emptyDecodeQueue();
        PanelFlightLoop(0, 0, 0, nullptr);
        return fakeLog().find("\nscreencast-frame 1 ") != std::string::npos && snapshotsAskedFor() == 1 &&
               !captureInFlight;
    })) << fakeLog();
    // A frame of the page's load may still come late: the quiet half-minute counts from the
    // last frame heard. Each is taken as the decode thread would, or the check would wait for it.
    std::string error;
    for (int tries = 0; tries < 3 && !captureInFlight; ++tries) {
        ASSERT_TRUE(testHost().run("wait 31", error)) << error;
        emptyDecodeQueue();
        PanelFlightLoop(0, 0, 0, nullptr);
    }
    EXPECT_TRUE(captureInFlight) << fakeLog();
    // Answered: no time-out, which only the schedule's flight loop would tell.
    EXPECT_TRUE(framesUntil([] { return !captureInFlight.load(); }));
    EXPECT_EQ(testprocs::countOccurrences(fakeLog(), "\nRuntime.evaluate {\"expression\":\"0\"}"), 1);
    EXPECT_EQ(snapshotsAskedFor(), 1);
    resetLiveFrames();
}

// The page tells the panel whenever its focus takes text, also when its own script focuses a
// field: only the answer to the pilot's click takes the simulator's keyboard.
TEST_F(CaptureTest, OnlyAFieldThePilotsClickFocusedTakesTheKeyboard) {
    ASSERT_NO_FATAL_FAILURE(startWithAFirstSnapshot());
    onBrowserTextFocus(true);
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 0);
    panelPointerReleased();
    onBrowserTextFocus(true);
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 1);
    onBrowserTextFocus(false);
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 0);
}

// A page dialog takes the simulator's keyboard only as the answer to what the pilot just did
// in the page; one the page opens by itself (a timer's) waits until the pilot clicks on it.
TEST_F(CaptureTest, APageDialogTakesTheKeyboardRightAfterTheHandOnThePageOrOnceClickedOn) {
    ASSERT_NO_FATAL_FAILURE(startWithAFirstSnapshot());
    pageWidth = 768;
    pageHeight = 512;
    // One pixel a boxel: page (x, y) is desktop (100 + x, 980 - y).
    auto act = [](const std::string& what) {
        std::string error;
        EXPECT_TRUE(testHost().run(what, error)) << error;
        return XPLMHasKeyboardFocus(panelWindow);
    };
    auto clickAt = [&](int x, int y) {
        return act("click " + std::to_string(100 + x) + " " + std::to_string(980 - y));
    };
    onBrowserDialogOpened(PageDialogKind::Alert, "Your session ends in 5 minutes", "");
    ASSERT_TRUE(pageDialogShown());
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 0);
    resumePanelInput();  // shown again after the panel was hidden
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 0);
    const auto layout = shownPageDialogLayout(768, 512);
    EXPECT_EQ(clickAt(5, 5), 0) << "the dimmed page beside the box";
    EXPECT_EQ(clickAt(layout->box.left + 6, layout->box.top + 6), 1) << "the box beside its button";
    EXPECT_EQ(act("key enter"), 0);
    EXPECT_FALSE(pageDialogShown());
    // Right after a click reached the page, its dialog answers it and takes the keyboard.
    panelPointerReleased();
    onBrowserDialogOpened(PageDialogKind::Confirm, "Log this flight?", "");
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 1);
    onBrowserDialogClosed();
    EXPECT_EQ(XPLMHasKeyboardFocus(panelWindow), 0);
}

}  // namespace
