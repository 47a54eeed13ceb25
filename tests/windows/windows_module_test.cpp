// The real Windows module, loaded into the Windows build of the stand-in simulator in this
// process, with the stand-in WebView2Loader.dll beside it. Each test lays out its own
// plugin folder, runs a script of simulator and pilot actions, and reads back the
// simulator's log and the stand-in browser's record of every call the plugin made.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"
#include "snapshot_pattern.h"

namespace {

std::string folderOf(const std::string& path) { return path.substr(0, path.find_last_of("\\/") + 1); }

// The build folder: this test sits at its top, beside xpsim's XPLM_64.dll.
std::string buildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return folderOf(path);
}

std::string builtModule() { return buildFolder() + "Corvane_Toolbar\\win_x64\\Corvane_Toolbar.xpl"; }
std::string builtLoader() { return buildFolder() + "tools\\webview2_loader\\WebView2Loader.dll"; }

int countOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

int countLinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

// True when `expected` appear in `lines` in this order (other lines may come between).
bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    std::size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
}

std::string join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

struct Outcome {
    bool started = false;          // the plugin was loaded and started
    std::string log;               // the simulator's log, through the final unload
    std::vector<std::string> record;  // the stand-in browser's record
};

class WindowsModule : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "cv-windows-" + std::to_string(GetCurrentProcessId()) + "-" + test->name() + "\\";
        folder_ = root_ + "Corvane_Toolbar\\win_x64\\";
        removeFolder();
        CreateDirectoryA(root_.c_str(), nullptr);
        CreateDirectoryA((root_ + "Corvane_Toolbar").c_str(), nullptr);
        CreateDirectoryA(folder_.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(builtModule().c_str(), (folder_ + "Corvane_Toolbar.xpl").c_str(), FALSE))
            << "cannot copy " << builtModule();
        recordPath_ = root_ + "record.txt";
        SetEnvironmentVariableA("CV_WEBVIEW2_RECORD", recordPath_.c_str());
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
        SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", nullptr);
        options_.paced = false;
        options_.fps = 30;
        options_.screenLeft = 0;
        options_.screenTop = 1024;
        options_.screenRight = 1280;
        options_.screenBottom = 0;
        options_.logFile = root_ + "log.txt";
    }

    void TearDown() override {
        SetEnvironmentVariableA("CV_WEBVIEW2_RECORD", nullptr);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
        SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", nullptr);
        if (!HasFailure()) removeFolder();  // a failure's folder is kept for a look
    }

    // Process ids repeat under Wine, so a folder of an earlier run may be found again.
    void removeFolder() {
        for (const char* file : {"Corvane_Toolbar.xpl", "WebView2Loader.dll", "cv_settings.ini"})
            DeleteFileA((folder_ + file).c_str());
        DeleteFileA((root_ + "record.txt").c_str());
        DeleteFileA((root_ + "log.txt").c_str());
        RemoveDirectoryA(folder_.c_str());
        RemoveDirectoryA((root_ + "Corvane_Toolbar").c_str());
        RemoveDirectoryA(root_.c_str());
    }

    void withLoader() {
        ASSERT_TRUE(CopyFileA(builtLoader().c_str(), (folder_ + "WebView2Loader.dll").c_str(), FALSE))
            << "cannot copy " << builtLoader();
    }

    void withSettings(const std::string& text) {
        std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << text;
    }

    static void cue(const char* cues) { SetEnvironmentVariableA("CV_WEBVIEW2_CUES", cues); }

    // Loads the module, runs the script, lets `inspect` look at the running host, then
    // unloads the module the way X-Plane does at exit (Disable, Stop, unload).
    Outcome run(const std::string& script, const std::function<void(xpsim::Host&)>& inspect = {}) {
        Outcome outcome;
        xpsim::Host host(options_);
        std::string error;
        EXPECT_TRUE(host.load(folder_ + "Corvane_Toolbar.xpl", error)) << error;
        outcome.started = host.pluginLoaded();
        EXPECT_TRUE(host.run(script, error)) << error;
        if (inspect) inspect(host);
        EXPECT_TRUE(host.run("quit", error)) << error;
        outcome.log = host.log();
        outcome.record = readRecord();
        return outcome;
    }

    std::vector<std::string> readRecord() const {
        std::vector<std::string> lines;
        std::ifstream in(recordPath_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::string settingsFileText() const {
        std::ifstream in(folder_ + "cv_settings.ini", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    xpsim::Options options_;
    std::string root_, folder_, recordPath_;
};

const std::string kHiddenParent =
    "create-controller parent-class=WebView2HiddenForXPlane parent-title=HiddenWebView2 parent-size=768x512 "
    "parent-visible=0 apartment=sta";
const std::string kCleanUnload = "unload live=0 hidden-windows=0 apartment=none";

TEST_F(WindowsModule, BringsTheBrowserUpAfterStartAndTearsItDownAtStop) {
    withLoader();
    const Outcome run = this->run("frames 5");
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(inOrder(run.record, {"create-environment folder=(null) user-data=(null) options=null apartment=sta",
                                     "environment ready", kHiddenParent, "controller ready", "bounds 0,0,768,512",
                                     "visible 1", "zoom 0.500000"}))
        << join(run.record);
    // One navigation, to the default address: the service's page over HTTPS, path "/".
    const auto navigations = linesStartingWith(run.record, "navigate ");
    ASSERT_EQ(navigations.size(), 1u) << join(run.record);
    EXPECT_EQ(navigations[0].rfind("navigate https://", 0), 0u);
    EXPECT_EQ(navigations[0].back(), '/');
    // Stop released every browser object, destroyed the hidden window and left COM before
    // the loader went.
    ASSERT_FALSE(run.record.empty());
    EXPECT_EQ(run.record.back(), kCleanUnload) << join(run.record);

    const auto banner = run.log.find("Pluginstart: Corvane Toolbar v0.7\n");
    const auto started = run.log.find("xpsim: started CorvaneToolbar");
    const auto unloaded = run.log.find("xpsim: unloaded CorvaneToolbar");
    ASSERT_NE(banner, std::string::npos) << run.log;
    EXPECT_LT(banner, started);
    EXPECT_LT(started, unloaded);
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
}

TEST_F(WindowsModule, AStopBeforeTheBrowserAnswersReleasesItAll) {
    withLoader();
    // No frame runs, so the environment's completion is still queued when the plugin stops.
    const Outcome run = this->run("");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.record,
              (std::vector<std::string>{"create-environment folder=(null) user-data=(null) options=null apartment=sta",
                                        kCleanUnload}));
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
}

TEST_F(WindowsModule, StoredSettingsReachTheBrowserAndThePageIsReloadedOnTime) {
    withLoader();
    withSettings("[General]\r\nzoomLevel = 1.25\r\nrefreshWebPageSecs = 2\r\nWebURL = http://example.test/panel\r\n");
    const Outcome run = this->run("wait 5");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), std::vector<std::string>{"zoom 1.250000"}) << join(run.record);
    // The bring-up navigation, then one each time the clock passes 2 s and 4 s.
    EXPECT_EQ(linesStartingWith(run.record, "navigate "),
              std::vector<std::string>(3, "navigate http://example.test/panel"))
        << join(run.record);
}

TEST_F(WindowsModule, SnapshotsAreDecodedAndDrawnUpright) {
    withLoader();
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.5",
                                  [&](xpsim::Host& host) { host.readDesktop(desktop, width, height); });
    EXPECT_GE(countLinesStartingWith(run.record, "capture done 768x512 hr=0x00000000"), 2) << join(run.record);
    ASSERT_EQ(width, 1280);
    ASSERT_EQ(height, 1024);

    // Desktop pixel under a point of the global desktop (y up), 8 pixels inside the window.
    auto colourAt = [&](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(options_.screenTop - 1 - y) * width + x) * 4;
        return std::vector<int>{desktop[at], desktop[at + 1], desktop[at + 2]};
    };
    auto rgb = [](snapshot_pattern::Rgb c) { return std::vector<int>{c.r, c.g, c.b}; };
    EXPECT_EQ(colourAt(108, 891), rgb(snapshot_pattern::kTopLeft));
    EXPECT_EQ(colourAt(859, 891), rgb(snapshot_pattern::kTopRight));
    EXPECT_EQ(colourAt(108, 396), rgb(snapshot_pattern::kBottomLeft));
    EXPECT_EQ(colourAt(859, 396), rgb(snapshot_pattern::kBottomRight));
    EXPECT_EQ(colourAt(484, 644), rgb(snapshot_pattern::kBackground));
}

TEST_F(WindowsModule, ALargerSnapshotChangesThePageSizeAndTheClickMapping) {
    withLoader();
    SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", "1152x768");
    // A window larger than the page; (1100, 200) is page pixel (1000, 700), beyond 768 x 512
    // but inside 1152 x 768. Before the first snapshot it is out of range, after it in.
    const Outcome run = this->run(
        "command Corvane/TogglePanel; geometry 100 900 1300 100; click 1100 200; wait 1.5; click 1100 200");
    EXPECT_GE(countLinesStartingWith(run.record, "capture done 1152x768"), 1) << join(run.record);
    EXPECT_EQ(countOf(run.log, "CV: Bounds invalid.\n"), 1) << run.log;
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (std::vector<std::string>{"mouse kind=0x201 keys=0 data=0 x=1000 y=700",
                                        "mouse kind=0x202 keys=0 data=0 x=1000 y=700"}))
        << join(run.record);
}

TEST_F(WindowsModule, AClickSendsOnePressAndOneReleaseAtTheMappedPixel) {
    withLoader();
    // Press and drag send nothing; the release sends the pair at its own position.
    const Outcome run = this->run(
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; press 500 500; drag 510 520; "
        "release 100 900; click 867 389");
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (std::vector<std::string>{"mouse kind=0x201 keys=0 data=0 x=0 y=0",
                                        "mouse kind=0x202 keys=0 data=0 x=0 y=0",
                                        "mouse kind=0x201 keys=0 data=0 x=767 y=511",
                                        "mouse kind=0x202 keys=0 data=0 x=767 y=511"}))
        << join(run.record);
}

TEST_F(WindowsModule, ZoomStepsReachTheControllerAndTheSettingsFile) {
    withLoader();
    const Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (std::vector<std::string>{"zoom 0.500000", "zoom 0.550000"}))
        << join(run.record);
    EXPECT_NE(settingsFileText().find("zoomLevel = 0.550000"), std::string::npos) << settingsFileText();
}

TEST_F(WindowsModule, AZoomStepBeforeTheBrowserIsUpIsAppliedAtBringUp) {
    withLoader();
    // No frame has run yet, so the controller does not exist when the step is taken.
    const Outcome run = this->run("command Corvane/IncreaseWebZoom; frames 5");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), std::vector<std::string>{"zoom 0.550000"}) << join(run.record);
}

TEST_F(WindowsModule, AFailedEnvironmentIsOneLogLineAndThePluginRunsOn) {
    withLoader();
    cue("fail-environment");
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; click 400 600");
    EXPECT_TRUE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: CreateCoreWebView2EnvironmentWithOptions failed\n"), 1) << run.log;
    EXPECT_EQ(countLinesStartingWith(run.record, "create-controller"), 0) << join(run.record);
    EXPECT_GE(countOf(run.log, "CV: error, could not lookup our Webview.\n"), 1) << run.log;
    EXPECT_EQ(countLinesStartingWith(run.record, "mouse "), 0);
    EXPECT_EQ(run.record.back(), kCleanUnload) << join(run.record);
}

TEST_F(WindowsModule, ALoaderThatRefusesAtOnceIsReported) {
    withLoader();
    cue("refuse-environment");
    const Outcome run = this->run("frames 5");
    EXPECT_TRUE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: CreateCoreWebView2EnvironmentWithOptions returned 0x80070002\n"), 1) << run.log;
    EXPECT_EQ(run.record.back(), kCleanUnload) << join(run.record);
}

TEST_F(WindowsModule, ARuntimeWithoutWindowlessHostingIsReportedAndNeverUsed) {
    withLoader();
    cue("no-environment3");
    const Outcome run = this->run("frames 5");
    EXPECT_EQ(countOf(run.log, "CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n"),
              1)
        << run.log;
    EXPECT_EQ(countLinesStartingWith(run.record, "create-controller"), 0) << join(run.record);
    EXPECT_EQ(run.record.back(), kCleanUnload) << join(run.record);
}

TEST_F(WindowsModule, AFailedControllerIsOneLogLineAndNothingIsApplied) {
    withLoader();
    cue("fail-controller");
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; command Corvane/IncreaseWebZoom");
    EXPECT_EQ(countOf(run.log, "CV: CreateCoreWebView2CompositionController failed\n"), 1) << run.log;
    EXPECT_EQ(countLinesStartingWith(run.record, kHiddenParent), 1) << join(run.record);
    for (const char* call : {"bounds", "visible", "zoom", "navigate", "capture"})
        EXPECT_EQ(countLinesStartingWith(run.record, call), 0) << call << "\n" << join(run.record);
    EXPECT_EQ(run.record.back(), kCleanUnload) << join(run.record);
}

TEST_F(WindowsModule, AControllerWithoutAViewNeitherNavigatesNorClicks) {
    withLoader();
    cue("no-view");
    const Outcome run =
        this->run("frames 5; command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.2; click 400 600");
    EXPECT_TRUE(inOrder(run.record, {"bounds 0,0,768,512", "visible 1", "zoom 0.500000"})) << join(run.record);
    EXPECT_EQ(countLinesStartingWith(run.record, "navigate"), 0);
    EXPECT_EQ(countLinesStartingWith(run.record, "mouse"), 0);
    EXPECT_GE(countOf(run.log, "CV: error, could not lookup our Webview.\n"), 1) << run.log;
}

TEST_F(WindowsModule, FailedSnapshotsAreRequestedAgainAndDrawNothing) {
    withLoader();
    cue("fail-snapshot");
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    const Outcome failed = this->run("command Corvane/TogglePanel; geometry 100 900 868 388; wait 2.2",
                                     [&](xpsim::Host& host) { host.readDesktop(desktop, width, height); });
    // One request per due check: each failure cleared the in-flight flag.
    EXPECT_GE(countLinesStartingWith(failed.record, "capture failed"), 3) << join(failed.record);
    ASSERT_EQ(width, 1280);
    const std::size_t topLeft = (static_cast<std::size_t>(options_.screenTop - 1 - 891) * width + 108) * 4;
    EXPECT_FALSE(desktop[topLeft] == 0xFF && desktop[topLeft + 1] == 0 && desktop[topLeft + 2] == 0)
        << "a failed snapshot must not be drawn";

    DeleteFileA(recordPath_.c_str());
    cue("refuse-snapshot");
    const Outcome refused = this->run("command Corvane/TogglePanel; wait 2.2");
    EXPECT_GE(countLinesStartingWith(refused.record, "capture refused"), 3) << join(refused.record);
    EXPECT_EQ(refused.record.back(), kCleanUnload) << join(refused.record);
}

TEST_F(WindowsModule, AMissingLoaderIsOneLogLineAndThePluginRunsWithoutABrowser) {
    // A loader on the DLL search path is not ours to take: only the module's folder counts.
    SetDllDirectoryA((buildFolder() + "tools\\webview2_loader").c_str());
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; click 400 600");
    SetDllDirectoryA(nullptr);
    EXPECT_TRUE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: WebView2Loader.dll not found in " + folder_ + "; running without a browser.\n"), 1)
        << run.log;
    EXPECT_GE(countOf(run.log, "CV: error, could not lookup our Webview.\n"), 1) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_TRUE(run.record.empty()) << join(run.record);
}

TEST_F(WindowsModule, AHostInTheMultithreadedApartmentMakesStartFailWithNothingCreated) {
    withLoader();
    options_.comMta = true;
    std::string state;
    const Outcome run = this->run("", [&](xpsim::Host& host) { state = host.stateJson(); });
    EXPECT_FALSE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: CoInitializeEx failed\n"), 1) << run.log;
    EXPECT_NE(run.log.find("returned 0"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    for (const char* nothing : {"\"windows\":[]", "\"commands\":[]", "\"menus\":[]", "\"flight_loops\":0"})
        EXPECT_NE(state.find(nothing), std::string::npos) << nothing << "\n" << state;
    EXPECT_TRUE(run.record.empty()) << join(run.record);  // the loader was never asked
}

TEST_F(WindowsModule, ReloadingTwiceBringsTheBrowserUpAgainAndLeavesNothingBehind) {
    withLoader();
    const Outcome run = this->run("frames 5; reload; frames 5; reload; frames 5");
    // Each load made its own hidden window with the class registered by the first one.
    EXPECT_EQ(countLinesStartingWith(run.record, kHiddenParent), 3) << join(run.record);
    EXPECT_EQ(countLinesStartingWith(run.record, "navigate "), 3) << join(run.record);
    EXPECT_EQ(countLinesStartingWith(run.record, kCleanUnload), 3) << join(run.record);
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("stays mapped"), std::string::npos) << run.log;
    // The class outlives the module (its procedure is DefWindowProcW, its instance the
    // simulator's): a registration now fails as the second load's did.
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WebView2HiddenForXPlane";
    EXPECT_EQ(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

}  // namespace
