// The capture schedule when starting a snapshot throws: the request is dropped, told once,
// and capturing goes on; and while the decode thread is behind, no snapshot is asked for.
// The Linux backend runs in-process against the fake DevTools peer; the failure is an
// allocation made to fail while the snapshot request is being built.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "allocation_failure.h"
#include "browser/browser.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "pipeline/decode_queue.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

namespace fs = std::filesystem;

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
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
    void TearDown() override
    {
        stopBrowser();
        destroyPanelWindow();
        settingsIni.Reset();
        captureInFlight = false;
        emptyDecodeQueue();
        unsetenv("XDG_DATA_HOME");
        unsetenv("CV_FAKE_CDP_LOG");
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    // Runs frames until `done` holds, for at most 20 s.
    bool framesUntil(bool (*done)())
    {
        std::string error;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > giveUp || !testHost().run("frames 1", error)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // No decode thread runs in these tests; this takes what it would have taken.
    static void emptyDecodeQueue()
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        pngQueue.clear();
    }
    int snapshotsAskedFor() const
    {
        std::ifstream in(folder_ / "fake.log");
        int count = 0;
        for (std::string line; std::getline(in, line);) count += line.rfind("Page.captureScreenshot ", 0) == 0;
        return count;
    }

    // The browser up and one snapshot answered: the page is there, as none starts while the
    // bring-up's navigation is still unanswered.
    void startWithAFirstSnapshot()
    {
        startBrowser();
        ASSERT_TRUE(framesUntil([] {
            RequestCapture();
            return captureInFlight.load();
        })) << newLogText();
        ASSERT_TRUE(framesUntil([] { return !captureInFlight.load(); }));
    }

    fs::path folder_;
};

TEST_F(CaptureTest, AnExceptionWhileASnapshotIsStartedIsToldOnceAndCapturingGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(startWithAFirstSnapshot());
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

TEST_F(CaptureTest, NoSnapshotIsAskedForWhileTheDecodeThreadIsBehind)
{
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
    RequestCapture();
    EXPECT_TRUE(captureInFlight);
    EXPECT_TRUE(framesUntil([] { return !captureInFlight.load(); }));
    EXPECT_EQ(snapshotsAskedFor(), 2);
}

}  // namespace
