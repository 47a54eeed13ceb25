// The module in the stand-in simulator with the fake DevTools peer as its browser: the
// faults a real browser shows only now and then, made to happen on cue.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace {

using namespace harness;

// The panel opens with its top-left at desktop (100, 980), one boxel per page pixel; in a
// 1920 x 1080 screenshot page pixel (x, y) is at (100 + x, 100 + y).
Pixel pagePixel(const Image& shot, int x, int y) { return shot.at(100 + x, 100 + y); }

class FakePeer : public ::testing::Test {
protected:
    FakePeer()
        : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          tag_(uniqueTag(::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        env_.set["CV_FAKE_CDP_CUES"] = folder_.file("cues.txt").string();
        env_.set["CV_FAKE_CDP_LOG"] = folder_.file("fake.log").string();
        env_.set["CV_TEST_TAG"] = tag_;
        settings("0.5", 60);
    }
    ~FakePeer() override { EXPECT_TRUE(waitUntilNoneTagged(tag_, 10).empty()) << "a process outlived the simulator"; }

    void settings(const std::string& zoom, int refresh) {
        folder_.writeSettings(zoom, refresh, "https://panel.example/", CV_FAKE_CDP);
    }
    void cues(const std::string& text) { std::ofstream(folder_.file("cues.txt")) << text; }
    std::string run(const std::string& script) {
        int status = -1;
        std::string log = runToEnd(folder_, script, env_, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "xpsim status " << status << "\n" << log;
        EXPECT_NE(log.find("xpsim: unloaded CorvaneToolbar"), std::string::npos) << log;
        EXPECT_EQ(log.find("xpsim: leak"), std::string::npos) << log;
        return log;
    }
    std::vector<std::string> received(const std::string& method) {
        return linesStartingWith(folder_.readFile("fake.log"), method + " ");
    }
    nlohmann::json params(const std::string& line) {
        const std::size_t open = line.find('{');
        const std::size_t session = line.rfind(" session=");
        return nlohmann::json::parse(line.substr(open, session == std::string::npos ? std::string::npos : session - open));
    }
    Image screenshot(const std::string& name) { return readPng(folder_.file(name)); }
    std::string shotPath(const std::string& name) { return folder_.file(name).string(); }

    PluginFolder folder_;
    std::string tag_;
    Environment env_;
};

// The fake's n-th snapshot is grey 40 * n.
int frameNumber(Pixel p) { return p.r == p.g && p.g == p.b && p.r % 40 == 0 ? p.r / 40 : -1; }

TEST_F(FakePeer, BringsUpThePageAndShowsItUprightWithItsCorners) {
    const std::string log = run("command Corvane/TogglePanel once\nwait 2\nscreenshot " + shotPath("s.png") + "\nquit");
    ASSERT_EQ(received("Target.getTargets").size(), 1u);
    ASSERT_EQ(received("Target.attachToTarget").size(), 1u);
    EXPECT_TRUE(params(received("Target.attachToTarget")[0])["flatten"].get<bool>());
    const auto metrics = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(metrics.size(), 1u);
    EXPECT_EQ(params(metrics[0]), nlohmann::json::parse(
                                      R"({"width":1536,"height":1024,"deviceScaleFactor":0.5,"mobile":false})"));
    EXPECT_NE(metrics[0].find("session=FAKE-SESSION-1"), std::string::npos);
    const auto navigations = received("Page.navigate");
    ASSERT_EQ(navigations.size(), 1u);
    EXPECT_EQ(params(navigations[0])["url"], "https://panel.example/");
    EXPECT_EQ(received("Browser.close").size(), 1u);
    // A snapshot is the panel's 768 x 512 pixels: at zoom 0.5 that is 1536 x 1024 CSS pixels.
    const auto snapshots = received("Page.captureScreenshot");
    ASSERT_FALSE(snapshots.empty());
    EXPECT_EQ(params(snapshots[0])["format"], "png");
    EXPECT_EQ(params(snapshots[0])["clip"],
              nlohmann::json::parse(R"({"x":0,"y":0,"width":1536.0,"height":1024.0,"scale":1})"));

    const Image shot = screenshot("s.png");
    ASSERT_EQ(shot.width, 1920);
    EXPECT_TRUE(near(pagePixel(shot, 5, 5), 255, 0, 0));
    EXPECT_TRUE(near(pagePixel(shot, 762, 5), 0, 255, 0));
    EXPECT_TRUE(near(pagePixel(shot, 5, 506), 0, 0, 255));
    EXPECT_TRUE(near(pagePixel(shot, 762, 506), 255, 255, 0));
    EXPECT_GE(frameNumber(pagePixel(shot, 400, 300)), 1);
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;

    // The private profile folder is gone after shutdown.
    const std::string argv = linesStartingWith(folder_.readFile("fake.log"), "argv ")[0];
    const std::size_t at = argv.find("--user-data-dir=");
    ASSERT_NE(at, std::string::npos);
    const std::string profile = argv.substr(at + 16, argv.find(' ', at) - at - 16);
    EXPECT_FALSE(fs::exists(profile)) << profile;
}

TEST_F(FakePeer, AFailedSnapshotIsDroppedAndCapturingGoesOn) {
    cues("fail 2\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 3\nscreenshot " + shotPath("s.png") + "\nquit");
    EXPECT_GE(received("Page.captureScreenshot").size(), 4u);
    EXPECT_GE(frameNumber(pagePixel(screenshot("s.png"), 400, 300)), 3);
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
}

TEST_F(FakePeer, AnUnansweredSnapshotHoldsFurtherRequestsButNotThePlugin) {
    cues("hang 3\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 4\nscreenshot " + shotPath("s.png") +
                                "\ncommand Corvane/TogglePanel once\ncommand Corvane/TogglePanel once\nwait 1\nquit");
    // One at a time and no time-out: the third never completes, so no fourth is asked for.
    EXPECT_EQ(received("Page.captureScreenshot").size(), 3u);
    // The last frame that arrived is the one shown, however its decode and a draw overlapped.
    EXPECT_EQ(frameNumber(pagePixel(screenshot("s.png"), 400, 300)), 2);
    EXPECT_EQ(received("Browser.close").size(), 1u);
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
}

TEST_F(FakePeer, GarbageInsteadOfAPngKeepsThePreviousFrame) {
    cues("garbage-png 3+\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 4\nscreenshot " + shotPath("s.png") + "\nquit");
    EXPECT_GE(received("Page.captureScreenshot").size(), 5u);
    EXPECT_EQ(frameNumber(pagePixel(screenshot("s.png"), 400, 300)), 2);
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
}

TEST_F(FakePeer, ALargerSnapshotSetsThePageSizeAndClicksMapOntoIt) {
    cues("size 1152 768\n");
    run("command Corvane/TogglePanel once\nwait 2\nscreenshot " + shotPath("s.png") +
        "\nclick 800 480\nvr on\nclick 384 256\nvr off\nwait 0.5\nquit");
    // The 1152 x 768 picture is drawn over the 768 x 512 window, corners and all.
    const Image shot = screenshot("s.png");
    EXPECT_TRUE(near(pagePixel(shot, 5, 5), 255, 0, 0));
    EXPECT_TRUE(near(pagePixel(shot, 762, 506), 255, 255, 0));

    const auto clicks = received("Input.dispatchMouseEvent");
    ASSERT_EQ(clicks.size(), 4u);
    // 2-D: page (700, 500) at zoom 0.5 is CSS (1400, 1000).
    EXPECT_EQ(params(clicks[0]), nlohmann::json::parse(R"({"type":"mousePressed","x":1400.0,"y":1000.0,
        "button":"left","buttons":1,"clickCount":1,"modifiers":0})"));
    EXPECT_EQ(params(clicks[1]), nlohmann::json::parse(R"({"type":"mouseReleased","x":1400.0,"y":1000.0,
        "button":"left","buttons":0,"clickCount":1,"modifiers":0})"));
    // VR: the middle of the window is the middle of the 1152 x 768 page, (576, 384).
    EXPECT_DOUBLE_EQ(params(clicks[2])["x"].get<double>(), 1152.0);
    EXPECT_DOUBLE_EQ(params(clicks[2])["y"].get<double>(), 768.0);
    EXPECT_EQ(params(clicks[3])["type"], "mouseReleased");
}

TEST_F(FakePeer, TheBrowserExitingMidRunIsOneLineAndThePluginCarriesOn) {
    cues("exit 3\n");
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 4\ncommand Corvane/TogglePanel once\n"
                       "command Corvane/TogglePanel once\nwait 1\nquit", env_);
    // Once the loss is noticed, the exited browser is reaped while the simulator runs on: no
    // zombie is left under it (polled, bounded; other children such as a sanitizer's
    // symbolizer are not ours to judge).
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sim.log().find("CV: lost the browser") == std::string::npos && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string fake = fs::canonical(CV_FAKE_CDP).string();
    auto browserChildren = [&] {
        int n = 0;
        for (const auto& [pid, state] : childrenOf(sim.pid())) {
            std::error_code ec;
            if (state == 'Z' || fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string() == fake) ++n;
        }
        return n;
    };
    const auto reapBy = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (browserChildren() > 0 && std::chrono::steady_clock::now() < reapBy)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(browserChildren(), 0) << "the exited browser was not reaped";
    const int status = sim.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string log = sim.log();
    EXPECT_EQ(countOccurrences(log, "CV: lost the browser"), 1) << log;
    EXPECT_NE(log.find("CV: lost the browser (the browser has closed its pipe); carrying on without it.\n"),
              std::string::npos);
    // Afterwards the panel still opens; it just has no page.
    EXPECT_NE(log.find("CV: error, could not lookup our Webview.", log.find("CV: lost")), std::string::npos);
    EXPECT_EQ(received("Page.captureScreenshot").size(), 3u);
    EXPECT_EQ(log.find("xpsim: leak"), std::string::npos) << log;
}

TEST_F(FakePeer, GarbageOnThePipeEndsTheBrowserOnce) {
    cues("garbage-frame 2\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 3\nquit");
    EXPECT_EQ(countOccurrences(log, "CV: lost the browser (the browser sent a message that is not JSON)"), 1) << log;
    EXPECT_EQ(received("Page.captureScreenshot").size(), 2u);
    // It was killed, not asked to close.
    EXPECT_EQ(received("Browser.close").size(), 0u);
}

TEST_F(FakePeer, ZoomStepsBeforeReadinessOnlyChangeTheLevelLaterOnesReachThePage) {
    settings("0.45", 60);
    // The first step comes before any frame has run, so before the browser is up.
    run("command Corvane/IncreaseWebZoom once\nwait 1\ncommand Corvane/IncreaseWebZoom once\nwait 0.5\nquit");
    const auto metrics = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(metrics.size(), 2u);
    // Bring-up takes the stepped level; the later step reaches the page as 0.55.
    EXPECT_NEAR(params(metrics[0])["deviceScaleFactor"].get<double>(), 0.5, 1e-6);
    EXPECT_EQ(params(metrics[0])["width"], 1536);
    EXPECT_NEAR(params(metrics[1])["deviceScaleFactor"].get<double>(), 0.55, 1e-6);
    EXPECT_EQ(params(metrics[1])["width"], 1397);
    EXPECT_EQ(params(metrics[1])["height"], 931);
    EXPECT_NE(folder_.readFile("cv_settings.ini").find("zoomLevel = 0.550000"), std::string::npos)
        << folder_.readFile("cv_settings.ini");
}

TEST_F(FakePeer, AZoomThePageCannotTakeLeavesItAtFullSize) {
    settings("0", 60);
    run("wait 1\ncommand Corvane/DecreaseWebZoom once\nwait 0.5\ncommand Corvane/IncreaseWebZoom once\nwait 0.5\nquit");
    const auto metrics = received("Emulation.setDeviceMetricsOverride");
    // Bring-up at 100 %; the decrease reapplies 0, which is refused and sends nothing; the
    // increase to 0.05 reaches the page.
    ASSERT_EQ(metrics.size(), 2u);
    EXPECT_EQ(params(metrics[0])["deviceScaleFactor"], 1.0);
    EXPECT_EQ(params(metrics[0])["width"], 768);
    EXPECT_NEAR(params(metrics[1])["deviceScaleFactor"].get<double>(), 0.05, 1e-6);
    EXPECT_NE(folder_.readFile("cv_settings.ini").find("zoomLevel = 0.050000"), std::string::npos);
}

TEST_F(FakePeer, AHiddenPanelTakesNoSnapshotsWhileReloadsFollowThePeriod) {
    settings("0.5", 1);
    run("wait 3.5\nquit");
    EXPECT_EQ(received("Page.captureScreenshot").size(), 0u);
    // The bring-up's navigation, then one each time more than a second has passed.
    const auto navigations = received("Page.navigate");
    EXPECT_GE(navigations.size(), 3u);
    EXPECT_LE(navigations.size(), 4u);
    for (const auto& n : navigations) EXPECT_EQ(params(n)["url"], "https://panel.example/");
}

TEST_F(FakePeer, ANonPositivePeriodNeverReloads) {
    settings("0.5", 0);
    run("command Corvane/TogglePanel once\nwait 3\nquit");
    EXPECT_EQ(received("Page.navigate").size(), 1u);
    EXPECT_GE(received("Page.captureScreenshot").size(), 4u);
}

TEST_F(FakePeer, AFailedBringUpIsOneLineAndThePluginCarriesOn) {
    cues("refuse Target.attachToTarget\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 1.5\nquit");
    EXPECT_EQ(countOccurrences(log, "CV: the browser could not be brought up (Target.attachToTarget: refused by the "
                                    "fake); carrying on without it.\n"),
              1)
        << log;
    EXPECT_NE(log.find("CV: error, could not lookup our Webview."), std::string::npos);
    EXPECT_EQ(received("Page.captureScreenshot").size(), 0u);
}

TEST_F(FakePeer, ATabLessBrowserGetsAPageCreated) {
    cues("no-page\n");
    run("command Corvane/TogglePanel once\nwait 1.5\nquit");
    ASSERT_EQ(received("Target.createTarget").size(), 1u);
    EXPECT_EQ(received("Target.attachToTarget").size(), 1u);
    EXPECT_GE(received("Page.captureScreenshot").size(), 1u);
}

TEST_F(FakePeer, ShutdownLeavesNothingBehindRightAfterStartOrWhenCloseIsIgnored) {
    // The fixture checks that no process outlives either run.
    const std::string log = run("quit");
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
    fs::remove(folder_.file("fake.log"));
    cues("ignore-close\n");
    run("wait 1\nquit");
    EXPECT_EQ(received("Browser.close").size(), 1u);
}

TEST_F(FakePeer, NoBrowserFoundOrNoProgramAtBrowserPathIsOneClearLine) {
    folder_.writeSettings("0.5", 60, "https://panel.example/", "");
    const fs::path emptyBin = folder_.file("empty-bin");
    fs::create_directories(emptyBin);
    env_.set["PATH"] = emptyBin.string();
    const std::string log = run("command Corvane/TogglePanel once\nwait 1.5\nquit");
    EXPECT_EQ(countOccurrences(log, "CV: no Chromium found (looked for chromium, chromium-browser, "
                                    "google-chrome-stable, google-chrome on PATH); set BrowserPath in "
                                    "cv_settings.ini.\n"),
              1)
        << log;
    EXPECT_NE(log.find("CV: error, could not lookup our Webview."), std::string::npos);
    // The key is read, never written.
    EXPECT_EQ(folder_.readFile("cv_settings.ini").find("BrowserPath"), std::string::npos);

    folder_.writeSettings("0.5", 60, "https://panel.example/", folder_.file("cv_settings.ini").string());
    const std::string notAProgram = run("wait 0.5\nquit");
    EXPECT_EQ(countOccurrences(notAProgram, "is not an executable file; carrying on without a browser.\n"), 1)
        << notAProgram;
}

}  // namespace
