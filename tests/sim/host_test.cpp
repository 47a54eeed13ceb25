// The stand-in host driven in-process with the fixture module, plus the xpsim command line.
// Built for Linux and for Windows (run under Wine), so both hosts keep the same rules.
#include "host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <png.h>
#  include <sys/wait.h>
#endif

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

#if defined(_WIN32)
// The fixture and xpsim.exe lie beside this test in the build folder's top.
std::string besideTest(const std::string& name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (fs::path(path).parent_path() / name).string();
}
const std::string kFixturePath = besideTest("fixture\\fixture.xpl");
const std::string kXpsimPath = besideTest("xpsim.exe");
void setFixtureMode(const char* mode) { _putenv_s("XPSIM_FIXTURE_MODE", mode); }
#else
const std::string kFixturePath = XPSIM_FIXTURE_PATH;
const std::string kXpsimPath = XPSIM_BINARY_PATH;
void setFixtureMode(const char* mode) { setenv("XPSIM_FIXTURE_MODE", mode, 1); }
#endif

using Rgba = std::vector<int>;
const Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255};

class HostTest : public ::testing::Test {
protected:
    void TearDown() override {
        host_.reset();
        setFixtureMode("normal");
    }

    void start(const std::string& mode = "normal", xpsim::Options options = {}) {
        setFixtureMode(mode.c_str());
        options.paced = false;
        host_.reset();  // one host at a time
        desktop_.clear();
        host_ = std::make_unique<xpsim::Host>(options);
        std::string error;
        EXPECT_TRUE(host_->load(kFixturePath, error)) << error;
    }

    void run(const std::string& script) {
        std::string error;
        ASSERT_TRUE(host_->run(script, error)) << error;
    }

    // The log lines after `prefix`, with the prefix removed, that start with `filter`.
    std::vector<std::string> lines(const std::string& prefix = "fixture: ", const std::string& filter = "") const {
        std::vector<std::string> result;
        std::istringstream in(host_->log());
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind(prefix + filter, 0) == 0) result.push_back(line.substr(prefix.size()));
        }
        return result;
    }

    bool logged(const std::string& line) const {
        const auto all = lines("");
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    // The fixture's lines that start with `filter`, from the n-th on.
    std::vector<std::string> since(std::size_t n, const std::string& filter = "") const {
        auto all = lines("fixture: ", filter);
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min(n, all.size())));
        return all;
    }

    json window(const std::string& title) const {
        const json state = json::parse(host_->stateJson());
        for (const auto& w : state["windows"]) {
            if (w["title"] == title) return w;
        }
        return json::object();
    }

    std::vector<int> geometry(const std::string& title) const {
        const json w = window(title);
        return {w["left"], w["top"], w["right"], w["bottom"]};
    }

    // The desktop as last drawn; the colour of the pixel covering boxel (x, y) of the default
    // 1920 x 1080 desktop.
    Rgba at(int x, int y) {
        if (desktop_.empty()) {
            int width = 0, height = 0;
            EXPECT_TRUE(host_->readDesktop(desktop_, width, height));
            EXPECT_TRUE(width == 1920 && height == 1080);
        }
        const std::size_t i = (static_cast<std::size_t>(1079 - y) * 1920 + static_cast<std::size_t>(x)) * 4;
        return {desktop_[i], desktop_[i + 1], desktop_[i + 2], desktop_[i + 3]};
    }
    void drawAgain(const std::string& script = "frames 1") {
        run(script);
        desktop_.clear();
    }

    std::unique_ptr<xpsim::Host> host_;
    std::vector<std::uint8_t> desktop_;
};

TEST_F(HostTest, CleanUnloadRunsEntryPointsInOrderWithoutLeaks) {
    start();
    EXPECT_TRUE(logged("fixture: start mode=normal gl=current")) << "the module's GL calls must reach the host";
    run("frames 2; menu Fixture item; quit");
    EXPECT_FALSE(host_->pluginLoaded());
    std::vector<std::string> order;
    for (const auto& line : lines()) {
        if (line.rfind("start", 0) == 0 || line == "enable" || line == "disable" || line == "stop") order.push_back(line);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"start mode=normal gl=current", "enable", "disable", "stop"}));
    EXPECT_TRUE(logged("fixture: menu item"));
    EXPECT_TRUE(lines("xpsim: leak: ").empty()) << host_->log();
    EXPECT_TRUE(lines("xpsim: error: ").empty()) << host_->log();
    EXPECT_TRUE(lines("xpsim: ", "Fixture left").empty()) << host_->log();
    const json s = json::parse(host_->stateJson());
    EXPECT_TRUE(s["windows"].empty());
    EXPECT_TRUE(s["menus"].empty());
}

TEST_F(HostTest, WhatTheModuleLeavesBehindIsReportedAndRemoved) {
    start("leak");
    run("frames 2; quit");
    const auto leaks = lines("xpsim: leak: ");
    for (const char* leak : {"window \"A\" left by Fixture", "command handler on fixture/cmd left by Fixture",
                             "flight loop left by Fixture"}) {
        EXPECT_NE(std::find(leaks.begin(), leaks.end(), leak), leaks.end()) << leak;
    }
    // Its menu stays listed, as the simulator keeps it, but no longer runs.
    EXPECT_TRUE(logged("xpsim: Fixture left 1 menu(s) behind")) << host_->log();
    const json s = json::parse(host_->stateJson());
    EXPECT_TRUE(s["windows"].empty());
    EXPECT_EQ(s["flight_loops"], 0);
    for (const auto& command : s["commands"]) EXPECT_EQ(command["handlers"], 0);
    ASSERT_EQ(s["menus"].size(), 1u);
    EXPECT_EQ(s["menus"][0]["title"], "Fixture");
    // Nothing left calls into the unloaded module.
    run("frames 2; command fixture/cmd; click 600 600; menu Fixture item");
    EXPECT_TRUE(logged("xpsim: menu item \"Fixture item\" belongs to a plugin that is no longer loaded; not run"));
    EXPECT_FALSE(logged("fixture: menu item"));
}

TEST_F(HostTest, FailedStartGetsNoFurtherCallAndIsUnloadedWithItsReasonLogged) {
    start("fail-start");
    EXPECT_FALSE(host_->pluginLoaded());
    run("frames 3; command fixture/cmd; click 600 600; vr on");
    const auto all = lines();
    ASSERT_EQ(all.size(), 1u) << host_->log();
    EXPECT_EQ(all[0].rfind("start mode=fail-start", 0), 0u);
    EXPECT_TRUE(lines("xpsim: leak: ").empty()) << host_->log();
    EXPECT_TRUE(lines("xpsim: ", "Fixture left").empty()) << host_->log();
    EXPECT_TRUE(json::parse(host_->stateJson())["menus"].empty());
    EXPECT_TRUE(logged("xpsim: the failed plugin's description: Failed on purpose.")) << host_->log();
}

TEST_F(HostTest, FlightLoopsFollowFrameAndSecondIntervalsAndTheirResults) {
    start();
    // 60 frames at 60 fps: every 2 frames runs 30 times, every 0.5 s twice with 0.5 s since
    // its last call, and a loop that returns 0 once.
    run("frames 60");
    EXPECT_EQ(lines("fixture: ", "loop frames2 since=0.033").size(), 30u);
    EXPECT_EQ(lines("fixture: ", "loop half since=0.500").size(), 2u);
    EXPECT_EQ(lines("fixture: ", "loop once").size(), 1u);
    run("wait 0.5");
    EXPECT_EQ(lines("fixture: ", "loop frames2").size(), 45u);
    EXPECT_EQ(lines("fixture: ", "loop half since=0.500").size(), 3u);
    EXPECT_EQ(lines("fixture: ", "loop once").size(), 1u);
    EXPECT_EQ(json::parse(host_->stateJson())["flight_loops"], 3);  // "once" stays registered, paused
}

TEST_F(HostTest, CommandPhasesRunBeforeHandlersFirstAndAZeroStopsTheChain) {
    start();
    auto handlerLines = [this] {
        auto result = lines();
        std::erase_if(result, [](const std::string& line) { return line.find(" phase=") == std::string::npos; });
        return result;
    };
    run("command fixture/cmd begin; command fixture/cmd continue; command fixture/cmd end; command fixture/blocked");
    EXPECT_EQ(handlerLines(), (std::vector<std::string>{"before phase=0", "after phase=0", "before phase=1", "after phase=1",
                                                 "before phase=2", "after phase=2", "blocker phase=0",
                                                 "blocker phase=2"}));
    run("hold fixture/cmd 0.5");
    auto held = handlerLines();
    held.erase(held.begin(), held.begin() + 8);
    EXPECT_EQ(held.front(), "before phase=0");
    EXPECT_EQ(held.back(), "after phase=2");
    EXPECT_EQ(std::count(held.begin(), held.end(), "after phase=1"), 30);
}

TEST_F(HostTest, PointerGoesToTheFrontWindowAndStaysCapturedUntilRelease) {
    start();
    EXPECT_EQ(window("B")["in_front"], true);  // created last
    EXPECT_EQ(window("A")["in_front"], false);
    // (600, 600) is inside both; left and top edges are inside, right and bottom ones are not.
    run("click 600 600; press 100 980; drag 1500 100; release 1600 50; click 868 600; click 100 468");
    const auto clicks = lines("fixture: ", "click");
    EXPECT_EQ(clicks, (std::vector<std::string>{"click B 600 600 status=1", "click B 600 600 status=3",
                                                "click A 100 980 status=1", "click A 1500 100 status=2",
                                                "click A 1600 50 status=3", "click B 868 600 status=1",
                                                "click B 868 600 status=3"}));
    EXPECT_TRUE(logged("xpsim: press at (100, 468) hits no window"));
    EXPECT_EQ(window("A")["in_front"], false);  // the host does not raise a clicked window by itself
}

TEST_F(HostTest, AZeroFromAWindowPassesTheEventToTheWindowBelow) {
    start();
    // B is in front of A at (600, 600). Taking the event, B keeps it; passing it (fixture/pass),
    // A below gets it, and the press's drag and release follow A.
    run("wheel 600 600 1; rightclick 600 600; hover 600 600");
    EXPECT_EQ(json::parse(host_->stateJson())["cursor"], "hidden");
    run("command fixture/pass; click 600 600; wheel 600 600 -2 horizontal; rightclick 600 600; hover 600 600");
    EXPECT_EQ(since(0, "click"), (std::vector<std::string>{"click B 600 600 status=1", "click A 600 600 status=1",
                                                           "click A 600 600 status=3"}));
    EXPECT_EQ(since(0, "wheel"), (std::vector<std::string>{"wheel B 600 600 axis=0 clicks=1",
                                                           "wheel B 600 600 axis=1 clicks=-2",
                                                           "wheel A 600 600 axis=1 clicks=-2"}));
    EXPECT_EQ(since(0, "rightclick"),
              (std::vector<std::string>{"rightclick B 600 600 status=1", "rightclick B 600 600 status=3",
                                        "rightclick B 600 600 status=1", "rightclick A 600 600 status=1",
                                        "rightclick A 600 600 status=3"}));
    // The default cursor leaves the choice to the window below, which asks for the arrow.
    EXPECT_EQ(since(0, "cursor"), (std::vector<std::string>{"cursor B 600 600", "cursor B 600 600", "cursor A 600 600"}));
    EXPECT_EQ(json::parse(host_->stateJson())["cursor"], "arrow");
    // Passed on by every window, a press goes to the simulator, and so do its drag and release.
    const std::size_t before = lines("fixture: ", "click").size();
    run("click 800 400");
    EXPECT_EQ(since(before, "click"), (std::vector<std::string>{"click B 800 400 status=1"}));
    EXPECT_TRUE(logged("xpsim: press at (800, 400) passed on by every window; the simulator takes it"));
    EXPECT_FALSE(logged("xpsim: release at (800, 400) without a press ignored"));
}

TEST_F(HostTest, OnlyTakeKeyboardFocusGivesTheKeysAndAPressElsewhereTakesThemBack) {
    start();
    // A press alone gives no window the keys.
    run("key x; click 300 900; key x");
    EXPECT_EQ(lines("xpsim: ", "key 'x' goes to the simulator").size(), 2u);
    EXPECT_EQ(since(0, "key"), std::vector<std::string>{});
    run("command fixture/focus-a; key x; key 7; key shift+tab; key ctrl+a; key escape; click 300 900");
    EXPECT_TRUE(logged("fixture: focus A=1 B=0 none=0"));
    // Down then up; virtual keys are X-Plane's (letters and digits as their capitals), and a
    // Control chord carries no character. A press on the window holding the keys keeps them.
    EXPECT_EQ(since(0, "key"), (std::vector<std::string>{
                                   "key A char=120 flags=8 vk=88 losing=0 to=A", "key A char=120 flags=16 vk=88 losing=0 to=A",
                                   "key A char=55 flags=8 vk=55 losing=0 to=A", "key A char=55 flags=16 vk=55 losing=0 to=A",
                                   "key A char=9 flags=9 vk=9 losing=0 to=A", "key A char=9 flags=17 vk=9 losing=0 to=A",
                                   "key A char=0 flags=12 vk=65 losing=0 to=A", "key A char=0 flags=20 vk=65 losing=0 to=A",
                                   "key A char=27 flags=8 vk=27 losing=0 to=A", "key A char=27 flags=16 vk=27 losing=0 to=A"}));
    // Taken by another window, or given back, the window losing the keys hears of it.
    run("command fixture/focus-b; command fixture/focus-none");
    EXPECT_EQ(since(10, "key"), (std::vector<std::string>{"key A char=0 flags=0 vk=0 losing=1 to=B",
                                                          "key B char=0 flags=0 vk=0 losing=1 to=none"}));
    EXPECT_TRUE(logged("fixture: focus A=0 B=0 none=1"));
    // A press a window takes, or one no window takes, takes them back for the simulator.
    run("command fixture/focus-b; click 300 900; command fixture/focus-a; click 1500 100; key y");
    EXPECT_EQ(since(12, "key"), (std::vector<std::string>{"key B char=0 flags=0 vk=0 losing=1 to=none",
                                                          "key A char=0 flags=0 vk=0 losing=1 to=none"}));
    EXPECT_EQ(window("A")["keyboard_focus"], false);
    EXPECT_TRUE(logged("xpsim: key 'y' goes to the simulator: no window has the keyboard focus"));
}

TEST_F(HostTest, TypedTextArrivesByteByByteAndAHeldKeyRepeatsUntilItComesUp) {
    start();
    run("command fixture/focus-a; type A\xC3\xA9!");
    EXPECT_EQ(since(0, "key"), (std::vector<std::string>{
                                   "key A char=65 flags=9 vk=65 losing=0 to=A", "key A char=65 flags=17 vk=65 losing=0 to=A",
                                   "key A char=-61 flags=8 vk=0 losing=0 to=A", "key A char=-61 flags=16 vk=0 losing=0 to=A",
                                   "key A char=-87 flags=8 vk=0 losing=0 to=A", "key A char=-87 flags=16 vk=0 losing=0 to=A",
                                   "key A char=33 flags=9 vk=49 losing=0 to=A", "key A char=33 flags=17 vk=49 losing=0 to=A"}));
    // 1 s at 60 frames a second: repeats from 0.5 s on, every 0.04 s.
    run("hold-key backspace 1");
    const auto held = since(8, "key");
    ASSERT_EQ(held.size(), 15u);
    EXPECT_EQ(held.front(), "key A char=8 flags=8 vk=8 losing=0 to=A");
    EXPECT_EQ(std::count(held.begin(), held.end(), "key A char=8 flags=0 vk=8 losing=0 to=A"), 13);
    EXPECT_EQ(held.back(), "key A char=8 flags=16 vk=8 losing=0 to=A");
    std::string error;
    for (const char* bad : {"type", "type \xC3", "key shift+", "key f13", "key hyper+a", "hold-key a", "hold-key a -1"})
        EXPECT_FALSE(host_->run(bad, error)) << bad;
}

TEST_F(HostTest, TheCursorIsAskedEveryFrameWhileThePointerRestsOnAWindow) {
    start();
    run("hover 300 900; frames 3; hover off; frames 2; click 300 900; frames 1; vr on; frames 2");
    EXPECT_EQ(since(0, "cursor"), (std::vector<std::string>(5, "cursor A 300 900")));
}

TEST_F(HostTest, NullCallbackSlotsAreErrorsAndTheirEventsGoNowhere) {
    start("rude");
    for (const char* slot : {"handleKeyFunc", "handleCursorFunc", "handleMouseWheelFunc", "handleRightClickFunc"}) {
        EXPECT_TRUE(logged(std::string("xpsim: error: XPLMCreateWindowEx with a null ") + slot +
                           "; X-Plane requires a function in every callback slot"))
            << slot << "\n" << host_->log();
    }
    EXPECT_FALSE(logged("xpsim: error: XPLMCreateWindowEx with a null drawWindowFunc; X-Plane requires a function in "
                        "every callback slot"));
    // C at (1000, 300)-(1200, 100) takes the press, and the keyboard focus when it asks.
    run("click 1100 200; command fixture/focus-c; key k; hover 1100 200; rightclick 1100 200; wheel 1100 200 1; frames 2");
    for (const char* missing : {"key", "cursor", "right-click", "mouse wheel"}) {
        EXPECT_TRUE(logged(std::string("xpsim: window \"C\" has no ") + missing + " callback")) << missing;
    }
    EXPECT_EQ(since(0, "click C"), (std::vector<std::string>{"click C 1100 200 status=1", "click C 1100 200 status=3"}));
}

TEST_F(HostTest, ADisabledPluginGetsNoCallbackUntilEnabledAgain) {
    start();
    run("click 300 900; frames 2; disable");
    EXPECT_TRUE(logged("xpsim: disabled Fixture"));
    EXPECT_EQ(json::parse(host_->stateJson())["plugin"]["enabled"], false);
    const std::size_t before = lines().size();
    drawAgain("frames 30; command fixture/cmd; menu Fixture item; click 600 600; wheel 600 600 1; hover 600 600; "
              "key x; rightclick 600 600; message 109; frames 1");
    EXPECT_EQ(since(before), std::vector<std::string>{}) << host_->log();
    EXPECT_EQ(window("A")["drawn"], false);
    EXPECT_NE(at(300, 900), kRed);  // not drawn: the desktop shows through
    EXPECT_TRUE(logged("xpsim: menu item \"Fixture item\" belongs to a disabled plugin; nothing runs"));
    run("disable");
    EXPECT_TRUE(logged("xpsim: disable: no enabled plugin"));

    drawAgain("enable; frames 2; command fixture/cmd; menu Fixture item; click 600 600");
    EXPECT_TRUE(logged("xpsim: enabled Fixture"));
    const auto after = since(before);
    for (const char* expected : {"enable", "loop frames2 since=0.533", "before phase=2", "menu item",
                                 "click B 600 600 status=3"}) {
        EXPECT_NE(std::find(after.begin(), after.end(), expected), after.end()) << expected << "\n" << host_->log();
    }
    EXPECT_EQ(at(300, 900), kRed);
}

TEST_F(HostTest, InVrOnlyVrWindowsAreDrawnAndHitAndInVrFollowsThePositioningModeAlone) {
    start();
    // VR messages without the headset: A is in VR by its mode, B is not.
    run("message 109");
    EXPECT_TRUE(logged("fixture: message 109 in-vr A=1 B=0"));
    EXPECT_EQ(window("A")["in_vr"], true);
    EXPECT_EQ(geometry("A"), (std::vector<int>{0, 512, 768, 0}));
    drawAgain("frames 1; click 300 900");  // A has nowhere to be seen: its desktop place is empty
    EXPECT_EQ(window("A")["drawn"], false);
    EXPECT_NE(at(300, 900), kRed);
    EXPECT_TRUE(logged("xpsim: press at (300, 900) hits no window"));
    run("message 110");
    EXPECT_TRUE(logged("fixture: message 110 in-vr A=0 B=0"));

    // With the headset on, A is drawn into its VR target and takes the pointer in its own
    // space, even where B stands on the desktop; B is neither drawn nor hit.
    drawAgain("vr on; frames 1; click 600 300");
    EXPECT_EQ(window("A")["drawn"], true);
    EXPECT_EQ(window("B")["drawn"], false);
    EXPECT_NE(at(700, 500), kGreen);
    EXPECT_EQ(lines("fixture: ", "click").back(), "click A 600 300 status=3");
    run("vr off; frames 1");
    EXPECT_EQ(geometry("A"), (std::vector<int>{100, 980, 868, 468}));
    EXPECT_EQ(window("B")["drawn"], true);
}

TEST_F(HostTest, TheCloseBoxHidesTheWindowAsThePluginWould) {
    start();
    drawAgain("close; frames 1");
    EXPECT_EQ(window("A")["visible"], false);  // what XPLMGetWindowIsVisible says
    EXPECT_EQ(window("A")["drawn"], false);
    EXPECT_NE(at(300, 900), kRed);
    run("close");
    EXPECT_TRUE(logged("xpsim: close: the plugin has no shown window with a close box"));
}

TEST_F(HostTest, ScreenshotHasTheWindowsWhereTheMappingSaysWhateverAPluginLeftBehind) {
    start();
    const std::string path = (fs::temp_directory_path() / "xpsim_shot.png").string();
    drawAgain("frames 1; screenshot " + path);
    // A at (100, 980)-(868, 468) red, B at (500, 700)-(900, 300) green in front. The pixel
    // covering boxel (x, y) is at column x, row 1079 - y.
    EXPECT_EQ(at(100, 979), kRed);    // top-left pixel of A: column 100, row 100
    EXPECT_EQ(at(100, 468), kRed);    // bottom-left pixel of A
    EXPECT_EQ(at(899, 300), kGreen);  // bottom-right pixel of B
    EXPECT_EQ(at(600, 600), kGreen);
    EXPECT_NE(at(100, 980), kRed);  // title strip above A
    EXPECT_NE(at(99, 700), kRed);
    EXPECT_NE(at(100, 467), kRed);
    const Rgba titleOfB = at(700, 705), frameOfB = at(499, 500), background = at(1500, 1000);
#if !defined(_WIN32)
    // The file holds the same picture.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    ASSERT_EQ(image.width, 1920u);
    ASSERT_EQ(image.height, 1080u);
    int width = 0, height = 0;
    std::vector<std::uint8_t> desktop;
    ASSERT_TRUE(host_->readDesktop(desktop, width, height));
    EXPECT_EQ(pixels, desktop);
#else
    std::ifstream file(path, std::ios::binary);
    char signature[8] = {};
    file.read(signature, sizeof signature);
    EXPECT_EQ(std::string(signature, 8), std::string("\x89PNG\r\n\x1a\n", 8));
#endif
    std::remove(path.c_str());

    // A leaves blending, texturing, a colour and pixel-store settings behind: the host's own
    // drawing (B's decoration, the background, the read-back) is untouched by them.
    drawAgain("command fixture/mess; frames 2");
    EXPECT_EQ(at(700, 705), titleOfB);
    EXPECT_EQ(at(499, 500), frameOfB);
    EXPECT_EQ(at(1500, 1000), background);
    EXPECT_EQ(at(300, 900), kRed);
}

struct WatchLine {
    long long micros;  // Unix time
    Rgba rgb;
};

// The lines of a watch file, each checked for its form: Unix seconds with 6 decimals, R G B.
std::vector<WatchLine> readWatch(const std::string& path) {
    std::vector<WatchLine> result;
    std::ifstream in(path);
    const std::regex form(R"(^(\d+)\.(\d{6}) (\d{1,3}) (\d{1,3}) (\d{1,3})$)");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(text, m, form)) << text;
        if (m.empty()) continue;
        result.push_back({std::stoll(m[1]) * 1000000 + std::stoll(m[2]), {std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])}});
    }
    return result;
}

long long unixMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST_F(HostTest, WatchWritesThePixelAtOnceAndAgainOnTheFrameItsColourChanges) {
    start();
    const std::string path = (fs::temp_directory_path() / "xpsim_watch.txt").string();
    std::remove(path.c_str());
    const Rgba red{255, 0, 0}, blue{0, 0, 255};
    run("frames 1; watch 300 900 " + path + "; frames 3");
    std::vector<WatchLine> seen = readWatch(path);
    ASSERT_EQ(seen.size(), 1u) << "frames that leave the colour as it is add nothing";
    EXPECT_EQ(seen[0].rgb, red);

    // A turns blue in the frame after the cue: that very frame writes the line, stamped while
    // it ran.
    run("command fixture/recolour");
    const long long before = unixMicros();
    run("frames 1");
    const long long after = unixMicros();
    seen = readWatch(path);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].rgb, blue);
    EXPECT_GE(seen[1].micros, before);
    EXPECT_LE(seen[1].micros, after);

    run("frames 2; unwatch; command fixture/recolour; frames 2");
    EXPECT_EQ(at(300, 900), kRed);
    EXPECT_EQ(readWatch(path).size(), 2u) << "unwatch stops the lines";
    run("unwatch");
    EXPECT_TRUE(logged("xpsim: unwatch: nothing is watched"));

    // The point maps as for screenshots, y up: A's bottom row is boxel 468, the row below is
    // not A's. A new watch appends to the file.
    run("watch 100 468 " + path + "; watch 100 467 " + path + "; unwatch");
    seen = readWatch(path);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2].rgb, red);
    EXPECT_NE(seen[3].rgb, red);

    std::string error;
    EXPECT_FALSE(host_->run("watch 1920 500 " + path, error));
    EXPECT_NE(error.find("watch: (1920, 500) is not on the desktop"), std::string::npos) << error;
    EXPECT_FALSE(host_->run("watch 10 10", error));
    EXPECT_NE(error.find("usage: watch X Y FILE"), std::string::npos) << error;
    std::remove(path.c_str());
}

TEST_F(HostTest, UntilRunsFramesUntilThePixelShowsTheColourAndIsAScriptErrorWhenItNeverDoes) {
    start();
    // A turns blue from the frame after the cue; the desktop as last drawn still shows it red.
    run("frames 1; command fixture/recolour; until 300 900 0000ff 1");
    EXPECT_TRUE(logged("xpsim: until: (300, 900) is 0000ff after 1 frame"));
    // Near enough is enough (each channel within 24), and a colour already there runs no frame.
    run("until 300 900 1010e8 1");
    EXPECT_TRUE(logged("xpsim: until: (300, 900) is 0000ff after 0 frames"));

    std::string error;
    EXPECT_FALSE(host_->run("until 300 900 00ff00 0.1", error));
    EXPECT_NE(error.find("until: (300, 900) did not turn 00ff00 within 6 frames; it is 0000ff"), std::string::npos)
        << error;
    EXPECT_FALSE(host_->run("until 1920 500 00ff00 1", error));
    EXPECT_NE(error.find("until: (1920, 500) is not on the desktop"), std::string::npos) << error;
    EXPECT_FALSE(host_->run("until 300 900 blue 1", error));
    EXPECT_NE(error.find("'blue' is not a colour RRGGBB"), std::string::npos) << error;
    EXPECT_FALSE(host_->run("until 300 900 0000ff", error));
    EXPECT_NE(error.find("usage: until X Y RRGGBB SECONDS"), std::string::npos) << error;
}

TEST_F(HostTest, DrawCallbacksStartFromAHostileGlStateThatTheSeedRepeats) {
    auto probe = [this](std::uint32_t seed, bool hostile) {
        xpsim::Options options;
        options.glSeed = seed;
        options.hostileGl = hostile;
        start("normal", options);
        run("frames 3; command fixture/probe-gl; frames 1; command fixture/probe-gl; frames 1");
        return lines("fixture: ", "gl ");
    };
    const auto first = probe(7, true);
    ASSERT_EQ(first.size(), 2u) << host_->log();
    EXPECT_TRUE(logged("xpsim: draw callbacks start from a hostile GL state drawn from seed 7"));
    for (const std::string& state : first) {
        // A pixel buffer bound, every unpack parameter off its default, another unit active,
        // blending on, another texture bound as XPLMBindTexture2d's cache knows it, face
        // culling on, and unit 0 with another texture environment and a texture matrix.
        EXPECT_EQ(state.rfind("gl unpack-buffer=bound row-length=", 0), 0u) << state;
        EXPECT_EQ(state.find("row-length=0 "), std::string::npos) << state;
        EXPECT_EQ(state.find("skip-rows=0 "), std::string::npos) << state;
        EXPECT_EQ(state.find("skip-pixels=0 "), std::string::npos) << state;
        EXPECT_EQ(state.find("alignment=1 "), std::string::npos) << state;
        EXPECT_EQ(state.find("unit=0 "), std::string::npos) << state;
        EXPECT_NE(state.find("texture=bound blend=1 unit0-after-bind=same cull=1 tex-env=other tex-matrix=moved"),
                  std::string::npos)
            << state;
    }
    EXPECT_NE(first[0], first[1]) << "each draw gets a state of its own";
    EXPECT_EQ(probe(7, true), first) << "the same seed repeats the same states";
    EXPECT_NE(probe(8, true), first);
    EXPECT_EQ(probe(7, false),
              (std::vector<std::string>(2, "gl unpack-buffer=none row-length=0 skip-rows=0 skip-pixels=0 alignment=4 "
                                           "unit=0 texture=none blend=0 unit0-after-bind=same cull=0 "
                                           "tex-env=modulate tex-matrix=identity")));
    EXPECT_TRUE(logged("xpsim: draw callbacks start from a clean GL state (--clean-gl)"));
}

TEST_F(HostTest, AnUploadTrustingTheGlStateItFindsGoesWrongVisiblyAndTheErrorIsLogged) {
    start("naive-gl");
    drawAgain("frames 2");
    // The red image is taken for an offset into the bound pixel buffer, which it overruns.
    EXPECT_NE(at(300, 900), kRed);
    EXPECT_TRUE(logged("xpsim: error: GL error 0x0502 after the draw callback of window \"A\"")) << host_->log();

    xpsim::Options clean;
    clean.hostileGl = false;
    start("naive-gl", clean);
    drawAgain("frames 2");
    EXPECT_EQ(at(300, 900), kRed);
    EXPECT_TRUE(lines("xpsim: error: ").empty()) << host_->log();
}

TEST_F(HostTest, XplmCallsFromAnotherThreadAreReportedAndStillCarriedOut) {
    start();
    run("wait 0.5; command fixture/thread; command fixture/thread");
    for (const char* function : {"XPLMDebugString", "XPLMGetElapsedTime", "XPLMFindDataRef", "XPLMGetDatai"}) {
        // Once each: a repeat within a minute is counted, not logged.
        EXPECT_EQ(lines("xpsim: ", std::string("error: ") + function + " called off the main thread").size(), 1u)
            << function << "\n" << host_->log();
    }
    EXPECT_EQ(lines("fixture: ", "hello from a thread").size(), 2u);
    EXPECT_EQ(lines("fixture: ", "thread elapsed=0.500 vr=0").size(), 2u) << host_->log();

    // A thread that works the host while frames run: every call waits for the host lock, so
    // nothing tears (the sanitizer builds would see it) and the frames go on.
    run("command fixture/busy-start; frames 120; command fixture/busy-stop; frames 2");
    const auto busy = lines("fixture: ", "busy thread made ");
    ASSERT_EQ(busy.size(), 1u) << host_->log();
    EXPECT_NE(busy[0], "busy thread made 0 calls");
    EXPECT_EQ(json::parse(host_->stateJson())["flight_loops"], 3);
    run("quit");
    EXPECT_TRUE(lines("xpsim: leak: ").empty()) << host_->log();
}

// The command line as a child process; the output is what it wrote to both streams. (The
// paths of the build and the temporary folder hold no spaces, so nothing is quoted.)
int runXpsim(const std::string& arguments, std::string& output) {
    const std::string command = kXpsimPath + " " + arguments + " 2>&1";
#if defined(_WIN32)
    FILE* pipe = _popen(command.c_str(), "r");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
#if defined(_WIN32)
    return _pclose(pipe);
#else
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

TEST(XpsimCommandLine, AScriptErrorEndsWithANonZeroStatusNamingTheLine) {
    const std::string script = (fs::temp_directory_path() / "xpsim_script.txt").string();
    std::ofstream(script) << "frames 1\nfrobnicate\n";
    std::string output;
    const int status = runXpsim("--unpaced --gl-seed 3 " + kFixturePath + " " + script, output);
    std::remove(script.c_str());
    EXPECT_EQ(status, 2) << output;
    EXPECT_NE(output.find("script line 2 (frobnicate): unknown command 'frobnicate'"), std::string::npos) << output;
    EXPECT_NE(output.find("fixture: stop"), std::string::npos);  // still shut down cleanly

    output.clear();
    EXPECT_EQ(runXpsim("--gl-seed -1 " + kFixturePath, output), 64) << output;
    EXPECT_NE(output.find("--gl-seed needs a whole number"), std::string::npos) << output;
}

}  // namespace
