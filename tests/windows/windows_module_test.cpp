// The real Windows module, loaded into the Windows build of the stand-in simulator in this
// process, with the stand-in WebView2Loader.dll beside it. Each run lays out its own
// plugin folder, runs a script of simulator and pilot actions, and reads back the
// simulator's log and the stand-in browser's record of every call the plugin made.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host.h"
#include "snapshot_pattern.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The build folder: this test sits at its top, beside xpsim's XPLM_64.dll.
std::string buildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().string() + "\\";
}

int countOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

Lines linesStartingWith(const Lines& lines, const std::string& prefix) {
    Lines found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

// True when `expected` appear in `lines` in this order (other lines may come between).
bool inOrder(const Lines& lines, const Lines& expected) {
    std::size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
}

struct Outcome {
    bool started = false;  // the plugin was loaded and started
    std::string log;       // the simulator's log, through the final unload
    Lines record;          // the stand-in browser's record, line by line
    std::string recordText;
};

const std::string kHiddenParent =
    "create-controller parent-class=WebView2HiddenForXPlane parent-title=HiddenWebView2 parent-size=768x512 "
    "parent-visible=0 apartment=sta";
const std::string kCleanUnload = "unload live=0 hidden-windows=0 apartment=none";
const std::string kNoWebview = "CV: error, could not lookup our Webview.\n";

class WindowsModule : public ::testing::Test {
protected:
    // Process ids repeat under Wine, so a folder of an earlier run may be found again.
    void SetUp() override {
        root_ = (fs::temp_directory_path() / ("cv-windows-" + std::to_string(GetCurrentProcessId()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                    .string() + "\\";
        folder_ = root_ + "Corvane_Toolbar\\win_x64\\";
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        fs::create_directories(folder_);
        fs::copy_file(buildFolder() + "Corvane_Toolbar\\win_x64\\Corvane_Toolbar.xpl", folder_ + "Corvane_Toolbar.xpl");
        fs::copy_file(buildFolder() + "tools\\webview2_loader\\WebView2Loader.dll", folder_ + "WebView2Loader.dll");
        SetEnvironmentVariableA("CV_WEBVIEW2_RECORD", (root_ + "record.txt").c_str());
        options_.paced = false;
        options_.fps = 30;
        options_.screenTop = 1024;
        options_.screenRight = 1280;
        options_.logFile = root_ + "log.txt";
    }

    void TearDown() override {
        for (const char* name : {"CV_WEBVIEW2_RECORD", "CV_WEBVIEW2_CUES", "CV_WEBVIEW2_SNAPSHOT_SIZE"})
            SetEnvironmentVariableA(name, nullptr);
        std::error_code ignored;
        if (!HasFailure()) fs::remove_all(root_, ignored);  // a failure's folder is kept for a look
    }

    // Loads the module with a fresh record, runs the script, lets `inspect` look at the
    // running host, then unloads the module the way X-Plane does at exit.
    Outcome run(const std::string& script, const std::function<void(xpsim::Host&)>& inspect = {}) {
        fs::remove(root_ + "record.txt");
        Outcome outcome;
        xpsim::Host host(options_);
        std::string error;
        EXPECT_TRUE(host.load(folder_ + "Corvane_Toolbar.xpl", error)) << error;
        outcome.started = host.pluginLoaded();
        EXPECT_TRUE(host.run(script, error)) << error;
        if (inspect) inspect(host);
        EXPECT_TRUE(host.run("quit", error)) << error;
        outcome.log = host.log();
        // No rule of the host broken: no null callback slot, no XPLM call off the main thread,
        // no GL error left behind, no exception escaping.
        EXPECT_EQ(outcome.log.find("xpsim: error:"), std::string::npos) << outcome.log;
        std::ifstream in(root_ + "record.txt");
        for (std::string line; std::getline(in, line);) outcome.record.push_back(line);
        for (const std::string& line : outcome.record) outcome.recordText += line + "\n";
        return outcome;
    }

    xpsim::Options options_;
    std::string root_, folder_;
};

TEST_F(WindowsModule, BringsTheBrowserUpAfterStartTakesAZoomStepAndTearsItDownAtStop) {
    const Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(inOrder(run.record, {"create-environment folder=(null) user-data=(null) options=null apartment=sta",
                                     "environment ready", kHiddenParent, "controller ready", "bounds 0,0,768,512",
                                     "visible 1", "zoom 0.500000"}))
        << run.recordText;
    // One navigation, to the default address: the service's page over HTTPS, path "/".
    const Lines navigations = linesStartingWith(run.record, "navigate ");
    ASSERT_EQ(navigations.size(), 1u) << run.recordText;
    EXPECT_EQ(navigations[0].rfind("navigate https://", 0), 0u);
    EXPECT_EQ(navigations[0].back(), '/');
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (Lines{"zoom 0.500000", "zoom 0.550000"})) << run.recordText;
    // Stop released every browser object, destroyed the hidden window and left COM before
    // the loader went.
    EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
    std::ostringstream settings;
    settings << std::ifstream(folder_ + "cv_settings.ini", std::ios::binary).rdbuf();
    EXPECT_NE(settings.str().find("zoomLevel = 0.550000"), std::string::npos) << settings.str();
}

TEST_F(WindowsModule, StoredSettingsReachTheBrowserAndThePageIsReloadedOnTime) {
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary)
        << "[General]\r\nzoomLevel = 1.25\r\nrefreshWebPageSecs = 2\r\nWebURL = http://example.test/panel\r\n";
    const Outcome run = this->run("wait 5");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), Lines{"zoom 1.250000"}) << run.recordText;
    // The bring-up navigation, then one each time the clock passes 2 s and 4 s.
    EXPECT_EQ(linesStartingWith(run.record, "navigate "), Lines(3, "navigate http://example.test/panel"))
        << run.recordText;
}

TEST_F(WindowsModule, SnapshotsAreDecodedAndDrawnUpright) {
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    // Desktop pixel under a point of the global desktop (y up), 8 pixels inside the window.
    auto colourAt = [&](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(options_.screenTop - 1 - y) * width + x) * 4;
        if (desktop.size() < at + 3) return std::vector<int>{};
        return std::vector<int>{desktop[at], desktop[at + 1], desktop[at + 2]};
    };
    auto rgb = [](snapshot_pattern::Rgb c) { return std::vector<int>{c.r, c.g, c.b}; };
    // The decode thread takes its own time: the frames run on until a decoded snapshot is on
    // screen, rather than for a fixed number that a loaded machine may outrun.
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.5",
                                  [&](xpsim::Host& host) {
                                      std::string error;
                                      for (int attempt = 0; attempt < 1000; ++attempt) {
                                          host.readDesktop(desktop, width, height);
                                          if (colourAt(108, 891) == rgb(snapshot_pattern::kTopLeft)) break;
                                          Sleep(10);
                                          ASSERT_TRUE(host.run("frames 1", error)) << error;
                                      }
                                  });
    EXPECT_GE(linesStartingWith(run.record, "capture done 768x512 hr=0x00000000").size(), 2u) << run.recordText;
    ASSERT_TRUE(width == 1280 && height == 1024) << width << "x" << height;
    EXPECT_EQ(colourAt(108, 891), rgb(snapshot_pattern::kTopLeft));
    EXPECT_EQ(colourAt(859, 891), rgb(snapshot_pattern::kTopRight));
    EXPECT_EQ(colourAt(108, 396), rgb(snapshot_pattern::kBottomLeft));
    EXPECT_EQ(colourAt(859, 396), rgb(snapshot_pattern::kBottomRight));
    EXPECT_EQ(colourAt(484, 644), rgb(snapshot_pattern::kBackground));
}

TEST_F(WindowsModule, ClicksSendOnePressAndOneReleaseAtTheMappedPixel) {
    // Press and drag send nothing; the release sends the pair at its own position.
    Outcome run = this->run(
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; press 500 500; drag 510 520; "
        "release 100 900; click 867 389");
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=0 y=0", "mouse kind=0x202 keys=0 data=0 x=0 y=0",
                     "mouse kind=0x201 keys=0 data=0 x=767 y=511", "mouse kind=0x202 keys=0 data=0 x=767 y=511"}))
        << run.recordText;

    // A window larger than the page; (1100, 200) is page pixel (1000, 700), beyond 768 x 512
    // but inside 1152 x 768. Before the first snapshot it is out of range, after it in.
    SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", "1152x768");
    // The decode thread publishes the new size in its own time. It does so before the frame
    // can be drawn, so the second click waits until the first frame's red corner is on screen.
    run = this->run("command Corvane/TogglePanel; geometry 100 900 1300 100; click 1100 200; wait 1.5",
                    [this](xpsim::Host& host) {
                        std::vector<std::uint8_t> desktop;
                        int width = 0, height = 0;
                        std::string error;
                        const std::size_t at = (static_cast<std::size_t>(options_.screenTop - 1 - 890) * 1280 + 110) * 4;
                        for (int attempt = 0; attempt < 1000; ++attempt) {
                            host.readDesktop(desktop, width, height);
                            if (desktop.size() > at + 2 && desktop[at] == 0xFF && desktop[at + 1] == 0 &&
                                desktop[at + 2] == 0)
                                break;
                            Sleep(10);
                            ASSERT_TRUE(host.run("frames 1", error)) << error;
                        }
                        EXPECT_TRUE(host.run("click 1100 200", error)) << error;
                    });
    EXPECT_GE(linesStartingWith(run.record, "capture done 1152x768").size(), 1u) << run.recordText;
    EXPECT_EQ(countOf(run.log, "CV: Bounds invalid.\n"), 1) << run.log;
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=1000 y=700", "mouse kind=0x202 keys=0 data=0 x=1000 y=700"}))
        << run.recordText;
}

TEST_F(WindowsModule, HoverKeysAndRightClicksOnThePanelSendNothingToThePage) {
    // The press gives the panel the keyboard; only the click's own pair reaches the page.
    const Outcome run = this->run(
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; click 500 500; hover 500 500; key a; "
        "key space; rightclick 500 500; hover 120 880; wait 0.3");
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=400 y=400", "mouse kind=0x202 keys=0 data=0 x=400 y=400"}))
        << run.recordText;
    EXPECT_EQ(run.log.find("callback\n"), std::string::npos) << run.log;
}

TEST_F(WindowsModule, WhileThePluginIsDisabledNoSnapshotIsAskedForAndEnablingResumesThem) {
    auto captures = [this] {
        std::ifstream in(root_ + "record.txt");
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.rfind("capture requested", 0) == 0 ? 1 : 0;
        return n;
    };
    int whenDisabled = 0, whenEnabled = 0;
    const Outcome run = this->run("command Corvane/TogglePanel; wait 1.2; disable", [&](xpsim::Host& host) {
        std::string error;
        whenDisabled = captures();
        EXPECT_TRUE(host.run("wait 2; command Corvane/TogglePanel", error)) << error;
        whenEnabled = captures();
        EXPECT_TRUE(host.run("enable; wait 1.2", error)) << error;
    });
    EXPECT_GE(whenDisabled, 2) << run.recordText;
    EXPECT_EQ(whenEnabled, whenDisabled) << run.recordText;
    EXPECT_GE(linesStartingWith(run.record, "capture requested").size(), static_cast<std::size_t>(whenDisabled + 2))
        << run.recordText;
    EXPECT_NE(run.log.find("xpsim: enabled CorvaneToolbar"), std::string::npos) << run.log;
}

TEST_F(WindowsModule, EachBrowserFailureIsReportedOnceAndThePluginRunsOn) {
    struct Case {
        const char* cue;
        std::string line;  // logged exactly once, if any
        Lines absent;      // calls never made
    };
    const Case cases[] = {
        {"fail-environment", "CV: CreateCoreWebView2EnvironmentWithOptions failed\n", {"create-controller", "mouse"}},
        {"refuse-environment", "CV: CreateCoreWebView2EnvironmentWithOptions returned 0x80070002\n",
         {"create-controller", "mouse"}},
        {"no-environment3",
         "CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n",
         {"create-controller", "mouse"}},
        {"fail-controller", "CV: CreateCoreWebView2CompositionController failed\n",
         {"bounds", "visible", "zoom", "navigate", "capture", "mouse"}},
        {"no-view", "", {"navigate", "mouse"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cue);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", c.cue);
        const Outcome run = this->run(
            "frames 5; command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.2; click 400 600; "
            "command Corvane/IncreaseWebZoom");
        EXPECT_EQ(c.line.empty() ? 1 : countOf(run.log, c.line), 1) << run.log;
        EXPECT_GE(countOf(run.log, kNoWebview), 1) << run.log;
        for (const std::string& call : c.absent)
            EXPECT_TRUE(linesStartingWith(run.record, call).empty()) << call << "\n" << run.recordText;
        ASSERT_FALSE(run.record.empty());
        EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    }

    // A failed or refused snapshot clears the in-flight flag: one request per due check.
    for (const auto& [cue, line] : {std::pair{"fail-snapshot", "capture failed"}, {"refuse-snapshot", "capture refused"}}) {
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", cue);
        const Outcome run = this->run("command Corvane/TogglePanel; wait 2.2");
        EXPECT_GE(linesStartingWith(run.record, line).size(), 3u) << run.recordText;
        EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    }
}

TEST_F(WindowsModule, AMissingLoaderIsOneLogLineAndThePluginRunsWithoutABrowser) {
    fs::remove(folder_ + "WebView2Loader.dll");
    // A loader on the DLL search path is not ours to take: only the module's folder counts.
    SetDllDirectoryA((buildFolder() + "tools\\webview2_loader").c_str());
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; click 400 600");
    SetDllDirectoryA(nullptr);
    EXPECT_EQ(countOf(run.log, "CV: WebView2Loader.dll not found in " + folder_ + "; running without a browser.\n"), 1)
        << run.log;
    EXPECT_GE(countOf(run.log, kNoWebview), 1) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_TRUE(run.record.empty()) << run.recordText;
}

TEST_F(WindowsModule, AHostInTheMultithreadedApartmentMakesStartFailWithNothingCreated) {
    options_.comMta = true;
    std::string state;
    const Outcome run = this->run("", [&](xpsim::Host& host) { state = host.stateJson(); });
    EXPECT_FALSE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: CoInitializeEx failed\n"), 1) << run.log;
    EXPECT_NE(run.log.find("xpsim: the failed plugin's description: Not started: the simulator's main thread could "
                           "not be prepared for the browser (see Log.txt).\n"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("returned 0"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    for (const char* nothing : {"\"windows\":[]", "\"commands\":[]", "\"menus\":[]", "\"flight_loops\":0"})
        EXPECT_NE(state.find(nothing), std::string::npos) << nothing << "\n" << state;
    EXPECT_TRUE(run.record.empty()) << run.recordText;  // the loader was never asked
}

TEST_F(WindowsModule, ReloadingTwiceBringsTheBrowserUpAgainAndLeavesNothingBehind) {
    // The first load stops before the browser answers (no frame runs), with the environment's
    // completion still queued; each later load makes its own hidden window, the third with the
    // class the second registered.
    const Outcome run = this->run("reload; frames 5; reload; frames 5");
    EXPECT_EQ(linesStartingWith(run.record, kHiddenParent).size(), 2u) << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 2u) << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, kCleanUnload).size(), 3u) << run.recordText;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("stays mapped"), std::string::npos) << run.log;
    // The class outlives the module (its procedure is DefWindowProcW, its instance the
    // simulator's): a registration now fails as the third load's did.
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WebView2HiddenForXPlane";
    EXPECT_EQ(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

}  // namespace
