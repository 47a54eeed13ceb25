// The stand-in host driven in-process with the fixture module, plus the xpsim command line.
#include "host.h"
#include "platform/xplm.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

namespace {

using nlohmann::json;

std::vector<std::string> linesStartingWith(const std::string& log, const std::string& prefix) {
    std::vector<std::string> result;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) result.push_back(line.substr(prefix.size()));
    }
    return result;
}

bool contains(const std::vector<std::string>& lines, const std::string& wanted) {
    for (const auto& line : lines) {
        if (line == wanted) return true;
    }
    return false;
}

class HostTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("XPSIM_FIXTURE_MODE"); }

    xpsim::Host& start(const std::string& mode = "normal", xpsim::Options options = {}) {
        setenv("XPSIM_FIXTURE_MODE", mode.c_str(), 1);
        options.paced = false;
        host_ = std::make_unique<xpsim::Host>(options);
        std::string error;
        EXPECT_TRUE(host_->load(XPSIM_FIXTURE_PATH, error)) << error;
        return *host_;
    }

    void run(const std::string& script) {
        std::string error;
        ASSERT_TRUE(host_->run(script, error)) << error;
    }

    std::vector<std::string> fixtureLines() const { return linesStartingWith(host_->log(), "fixture: "); }
    std::vector<std::string> leakLines() const { return linesStartingWith(host_->log(), "xpsim: leak: "); }
    json state() const { return json::parse(host_->stateJson()); }

    json window(const std::string& title) const {
        const json s = state();
        for (const auto& w : s["windows"]) {
            if (w["title"] == title) return w;
        }
        ADD_FAILURE() << "no window " << title;
        return json::object();
    }

    // The fixture's flight-loop report, as printed by its "fixture/report" command.
    std::string report() {
        run("command fixture/report");
        const auto lines = fixtureLines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            if (it->rfind("report ", 0) == 0) return *it;
        }
        return "";
    }

    std::unique_ptr<xpsim::Host> host_;
};

TEST_F(HostTest, LifecycleRunsEntryPointsInOrderAndReportsIdentity) {
    xpsim::Host& host = start();
    EXPECT_TRUE(host.pluginLoaded());
    const json s = state();
    EXPECT_EQ(s["plugin"]["name"], "Fixture");
    EXPECT_EQ(s["plugin"]["signature"], "xpsim.fixture");
    EXPECT_EQ(s["plugin"]["started"], true);

    char resolved[4096];
    ASSERT_NE(realpath(XPSIM_FIXTURE_PATH, resolved), nullptr);
    const std::string path = resolved;
    const std::string dir = path.substr(0, path.rfind('/'));
    auto lines = fixtureLines();
    EXPECT_TRUE(contains(lines, "info name=Fixture sig=xpsim.fixture path=" + path));
    EXPECT_TRUE(contains(lines, "split dir=" + dir + " file=fixture.xpl"));

    run("quit");
    EXPECT_FALSE(host.pluginLoaded());
    lines = fixtureLines();
    std::vector<std::string> order;
    for (const auto& line : lines) {
        if (line.rfind("start", 0) == 0 || line == "enable" || line == "disable" || line == "stop") order.push_back(line);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"start mode=normal", "enable", "disable", "stop"}));
    EXPECT_TRUE(leakLines().empty()) << host.log();

    const json after = state();
    EXPECT_EQ(after["plugin"]["name"], "");
    EXPECT_EQ(after["plugin"]["started"], false);
    EXPECT_TRUE(after["windows"].empty());
    EXPECT_TRUE(after["menus"].empty());
    EXPECT_EQ(after["flight_loops"], 0);
    EXPECT_EQ(after["textures"], 0);
    // Commands outlive their plugin, without handlers.
    for (const auto& command : after["commands"]) EXPECT_EQ(command["handlers"], 0);
}

TEST_F(HostTest, ANameOverrunningTheSdkBufferIsReported) {
    start("long-name");
    EXPECT_NE(host_->log().find("xpsim: error: XPluginStart wrote 301 bytes into a buffer X-Plane makes 256 bytes long"),
              std::string::npos);
}

TEST_F(HostTest, ReloadRunsTheWholeSequenceAgain) {
    start();
    run("reload; reload");
    std::vector<std::string> order;
    for (const auto& line : fixtureLines()) {
        if (line.rfind("start", 0) == 0 || line == "enable" || line == "disable" || line == "stop") order.push_back(line);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"start mode=normal", "enable", "disable", "stop", "start mode=normal",
                                               "enable", "disable", "stop", "start mode=normal", "enable"}));
    EXPECT_EQ(state()["windows"].size(), 2u);
    EXPECT_EQ(state()["commands"][0]["handlers"], 2);  // not doubled by the reloads
    EXPECT_TRUE(leakLines().empty());
}

TEST_F(HostTest, FailedStartGetsNoFurtherCallAndIsUnloaded) {
    xpsim::Host& host = start("fail-start");
    EXPECT_FALSE(host.pluginLoaded());
    const auto lines = fixtureLines();
    EXPECT_TRUE(contains(lines, "start mode=fail-start"));
    for (const char* never : {"enable", "disable", "stop"}) EXPECT_FALSE(contains(lines, never)) << never;
    EXPECT_TRUE(leakLines().empty()) << host.log();
    const json s = state();
    EXPECT_EQ(s["plugin"]["started"], false);
    EXPECT_TRUE(s["windows"].empty());
    EXPECT_TRUE(s["menus"].empty());  // removed silently: a plugin cannot remove its menus
    run("frames 3; command fixture/cmd; menu Item One; message 109");  // nothing calls into unloaded code
}

TEST_F(HostTest, EverythingLeftBehindIsReportedAndRemoved) {
    for (const std::string mode : {"leak", "fail-start-leaky"}) {
        SCOPED_TRACE(mode);
        start(mode);
        run("frames 2; quit");
        const auto leaks = leakLines();
        EXPECT_TRUE(contains(leaks, "window \"fixture A\" left by Fixture"));
        EXPECT_TRUE(contains(leaks, "window \"fixture B\" left by Fixture"));
        EXPECT_TRUE(contains(leaks, "command handler on fixture/cmd left by Fixture"));
        EXPECT_TRUE(contains(leaks, "flight loop left by Fixture"));
        bool textureLeak = false;
        for (const auto& leak : leaks) textureLeak |= leak.rfind("texture ", 0) == 0;
        EXPECT_TRUE(textureLeak);
        const json s = state();
        EXPECT_TRUE(s["windows"].empty());
        EXPECT_EQ(s["flight_loops"], 0);
        for (const auto& command : s["commands"]) EXPECT_EQ(command["handlers"], 0);
        run("frames 2");  // nothing left that calls into the unloaded module
        host_.reset();
    }
}

TEST_F(HostTest, FlightLoopsFollowFrameAndSecondIntervalsAndTheirResults) {
    start();
    run("frames 60");
    // 60 frames at 60 fps: every-2-frames runs 30 times, every-0.5-s twice (at 0.5 s and
    // 1.0 s) with 0.5 s since its last call, a loop returning 0 once, and a loop that
    // unregisters itself on its third call stops there.
    EXPECT_EQ(report(), "report frames2=30 seconds=2 once=1 selfremove=3 lastsince=0.500 elapsed=1.0000 myid=2");
    EXPECT_EQ(state()["flight_loops"], 3);  // "once" stays registered, paused; the self-removed one is gone
    run("wait 0.5");
    EXPECT_EQ(report(), "report frames2=45 seconds=3 once=1 selfremove=3 lastsince=0.500 elapsed=1.5000 myid=2");
}

TEST_F(HostTest, ClockStartsAtTheStartTime) {
    xpsim::Options options;
    options.startTime = 100.0;
    options.fps = 30;
    xpsim::Host& host = start("normal", options);
    run("frames 15");
    EXPECT_DOUBLE_EQ(host.elapsedTime(), 100.5);
    EXPECT_FLOAT_EQ(XPLMGetElapsedTime(), 100.5f);
}

TEST_F(HostTest, CommandPhasesRunBeforeHandlersFirstAndAZeroStopsTheChain) {
    start();
    auto commandLines = [this] {
        std::vector<std::string> result;
        for (const auto& line : fixtureLines()) {
            if (line.rfind("command ", 0) == 0) result.push_back(line);
        }
        return result;
    };
    run("command fixture/cmd begin; command fixture/cmd continue; command fixture/cmd end");
    EXPECT_EQ(commandLines(), (std::vector<std::string>{"command before phase=0", "command after phase=0",
                                                        "command before phase=1", "command after phase=1",
                                                        "command before phase=2", "command after phase=2"}));
    run("command fixture/block; command fixture/cmd");  // "once": begin then end, each stopped early
    auto lines = commandLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], "command before phase=0");
    EXPECT_EQ(lines[7], "command before phase=2");

    run("command fixture/block; hold fixture/cmd 0.5");
    lines = commandLines();
    lines.erase(lines.begin(), lines.begin() + 8);
    std::size_t continues = 0;
    for (const auto& line : lines) continues += line == "command after phase=1" ? 1 : 0;
    EXPECT_EQ(lines.front(), "command before phase=0");
    EXPECT_EQ(lines.back(), "command after phase=2");
    EXPECT_EQ(continues, 30u);

    run("command no/such/command");  // not an error: logged
    EXPECT_NE(host_->log().find("xpsim: no command named no/such/command"), std::string::npos);
}

TEST_F(HostTest, MenuItemCallsItsHandlerWithTheMenuAndItemReferences) {
    start();
    run("menu Item Two; menu Item One");
    const auto lines = fixtureLines();
    EXPECT_TRUE(contains(lines, "menu menuref=7 item=2"));
    EXPECT_TRUE(contains(lines, "menu menuref=7 item=1"));
    const json menus = state()["menus"];
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0]["title"], "Fixture Menu");
    EXPECT_EQ(menus[0]["in_menu_bar"], true);
    EXPECT_EQ(menus[0]["items"], json::array({"Item One", "Item Two"}));
}

TEST_F(HostTest, PointerGoesToTheFrontWindowAndStaysCapturedUntilRelease) {
    start();
    EXPECT_EQ(window("fixture B")["in_front"], true);  // created last
    EXPECT_EQ(window("fixture A")["in_front"], false);
    EXPECT_EQ(window("fixture A")["gravity"], json::array({0, 1, 0, 1}));

    // (600, 600) is inside both; B is in front. Edges: left and top inclusive.
    run("click 600 600; click 100 980; press 120 950; drag 1500 100; release 1600 50; click 10 10");
    auto lines = fixtureLines();
    EXPECT_TRUE(contains(lines, "click B 600 600 status=1 infront=1"));
    EXPECT_TRUE(contains(lines, "click A 100 980 status=1 infront=0"));
    EXPECT_TRUE(contains(lines, "click A 120 950 status=1 infront=0"));
    EXPECT_TRUE(contains(lines, "click A 1500 100 status=2 infront=0"));
    EXPECT_TRUE(contains(lines, "click A 1600 50 status=3 infront=0"));
    EXPECT_NE(host_->log().find("xpsim: press at (10, 10) hits no window"), std::string::npos);
    // The host does not raise a clicked window by itself.
    EXPECT_EQ(window("fixture A")["in_front"], false);

    run("click 868 600; click 100 468");  // right and bottom edges are outside A
    lines = fixtureLines();
    EXPECT_TRUE(contains(lines, "click B 868 600 status=1 infront=1"));
    EXPECT_NE(host_->log().find("xpsim: press at (100, 468) hits no window"), std::string::npos);

    run("command fixture/front; click 600 600; wheel 600 600 -2 horizontal; wheel 700 350 3");
    lines = fixtureLines();
    EXPECT_EQ(window("fixture A")["in_front"], true);
    EXPECT_TRUE(contains(lines, "click A 600 600 status=1 infront=1"));
    EXPECT_TRUE(contains(lines, "wheel A 600 600 axis=1 clicks=-2"));
    EXPECT_TRUE(contains(lines, "wheel B 700 350 axis=0 clicks=3"));
}

TEST_F(HostTest, VrMessagesDataRefAndWindowSpace) {
    start();
    EXPECT_TRUE(contains(fixtureLines(), "vr dataref=found value=0"));
    run("vr on");
    EXPECT_TRUE(contains(fixtureLines(), "message from=0 msg=109 invr=0 vrvalue=1"));
    json a = window("fixture A");
    EXPECT_EQ(a["in_vr"], true);
    EXPECT_EQ(a["positioning_mode"], 5);
    EXPECT_EQ(std::vector<int>({a["left"], a["top"], a["right"], a["bottom"]}), (std::vector<int>{0, 512, 768, 0}));
    // In VR the pointer aims at the VR window in its own space, even where B is on the desktop.
    run("click 600 300; frames 2");
    EXPECT_TRUE(contains(fixtureLines(), "click A 600 300 status=1 infront=0"));

    run("vr off");
    EXPECT_TRUE(contains(fixtureLines(), "message from=0 msg=110 invr=1 vrvalue=1"));
    a = window("fixture A");
    EXPECT_EQ(a["in_vr"], false);
    EXPECT_EQ(a["monitor"], 0);
    EXPECT_EQ(std::vector<int>({a["left"], a["top"], a["right"], a["bottom"]}),
              (std::vector<int>{100, 980, 868, 468}));

    run("message 109 5; message 42");
    EXPECT_TRUE(contains(fixtureLines(), "message from=5 msg=109 invr=0 vrvalue=0"));
    EXPECT_TRUE(contains(fixtureLines(), "message from=0 msg=42 invr=0 vrvalue=0"));
    EXPECT_EQ(window("fixture A")["in_vr"], false);
}

TEST_F(HostTest, VrAtStartAndWithoutTheDataRef) {
    xpsim::Options vr;
    vr.vr = true;
    start("normal", vr);
    EXPECT_TRUE(contains(fixtureLines(), "vr dataref=found value=1"));
    host_.reset();
    xpsim::Options noRef;
    noRef.vrDataref = false;
    start("normal", noRef);
    EXPECT_TRUE(contains(fixtureLines(), "vr dataref=missing value=0"));
}

TEST_F(HostTest, GeometryCommandMovesThePluginsFirstWindow) {
    start();
    run("geometry 10 500 410 100");
    const json a = window("fixture A");
    EXPECT_EQ(std::vector<int>({a["left"], a["top"], a["right"], a["bottom"]}), (std::vector<int>{10, 500, 410, 100}));
}

TEST_F(HostTest, ScriptErrorsNameTheLine) {
    start();
    for (const char* bad : {"frames 1\nbogus 3", "frames 1\nwait abc", "frames 1\nclick 1", "frames 1\nvr maybe",
                            "frames 1\ncommand fixture/cmd sideways", "frames 1\nwheel 1 2 3 diagonal"}) {
        std::string error;
        EXPECT_FALSE(host_->run(bad, error)) << bad;
        EXPECT_NE(error.find("script line 2"), std::string::npos) << error;
    }
}

TEST_F(HostTest, AnInterruptEndsTheScriptButNotTheCleanShutdown) {
    xpsim::Host& host = start();
    xpsim::Host::requestInterrupt();
    std::string error;
    EXPECT_FALSE(host.run("frames 10; command fixture/report", error));
    EXPECT_EQ(error, "interrupted before script line 1");
    EXPECT_EQ(host.elapsedTime(), 0.0);
    host_.reset();
    EXPECT_TRUE(start().run("frames 1", error)) << "a new host must not inherit the interrupt";
}

// --- drawing

struct Desktop {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0, left = 0, top = 0;
    // The pixel covering global boxel (x, y): column x - left, row top - 1 - y.
    std::vector<int> at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(top - 1 - y) * width + (x - left)) * 4;
        return {rgba[i], rgba[i + 1], rgba[i + 2]};
    }
};

const std::vector<int> kRed{255, 0, 0}, kGreen{0, 255, 0};

TEST_F(HostTest, WindowsAreDrawnInFrontOrderWhereTheMappingSays) {
    for (const int left : {0, -1920}) {
        SCOPED_TRACE(left);
        xpsim::Options options;
        options.screenLeft = left;  // a second monitor on the left widens the desktop
        start("normal", options);
        run("frames 1");
        bool glSeen = false;
        for (const auto& line : fixtureLines()) glSeen |= line.rfind("gl renderer=", 0) == 0 && line != "gl renderer=(none)";
        EXPECT_TRUE(glSeen) << "the module's GL calls must reach the host's context";

        Desktop d;
        d.left = left;
        d.top = 1080;
        ASSERT_TRUE(host_->readDesktop(d.rgba, d.width, d.height));
        ASSERT_EQ(d.width, 1920 - left);
        ASSERT_EQ(d.height, 1080);
        // A at (100, 980)-(868, 468) red, B at (500, 700)-(900, 300) green in front.
        EXPECT_EQ(d.at(100, 979), kRed);  // top-left pixel of A
        EXPECT_EQ(d.at(867, 968), kRed);
        EXPECT_EQ(d.at(100, 468), kRed);  // bottom-left pixel of A
        EXPECT_EQ(d.at(600, 600), kGreen);
        EXPECT_EQ(d.at(899, 300), kGreen);  // bottom-right pixel of B
        EXPECT_NE(d.at(100, 980), kRed);    // decoration above A's top edge
        EXPECT_NE(d.at(99, 700), kRed);
        EXPECT_NE(d.at(1500, 100), kRed);

        run("command fixture/front; frames 1");
        ASSERT_TRUE(host_->readDesktop(d.rgba, d.width, d.height));
        EXPECT_EQ(d.at(600, 600), kRed);
        EXPECT_EQ(d.at(899, 300), kGreen);

        // In VR, A leaves the desktop.
        run("vr on; frames 1");
        ASSERT_TRUE(host_->readDesktop(d.rgba, d.width, d.height));
        EXPECT_NE(d.at(200, 900), kRed);
        EXPECT_EQ(d.at(600, 600), kGreen);
        host_.reset();
    }
}

TEST_F(HostTest, ClosedWithItsCloseBoxAWindowLeavesTheScreenButStillReportsVisible) {
    start();
    run("close; frames 1; click 120 950");
    json a = window("fixture A");
    EXPECT_EQ(a["visible"], true);
    EXPECT_EQ(a["closed_by_user"], true);
    EXPECT_EQ(a["in_front"], false);
    EXPECT_NE(host_->log().find("xpsim: press at (120, 950) hits no window"), std::string::npos);
    Desktop d;
    d.top = 1080;
    ASSERT_TRUE(host_->readDesktop(d.rgba, d.width, d.height));
    EXPECT_NE(d.at(120, 950), kRed);

    run("command fixture/show; frames 1");
    EXPECT_TRUE(contains(fixtureLines(), "show: A visible was 1"));
    a = window("fixture A");
    EXPECT_EQ(a["closed_by_user"], false);
    ASSERT_TRUE(host_->readDesktop(d.rgba, d.width, d.height));
    EXPECT_EQ(d.at(120, 950), kRed);
}

TEST_F(HostTest, AGlErrorLeftByADrawCallbackIsReportedOnce) {
    start();
    run("frames 2");
    EXPECT_TRUE(linesStartingWith(host_->log(), "xpsim: error:").empty()) << host_->log();
    run("command fixture/misuse-gl; frames 3");
    const auto errors = linesStartingWith(host_->log(), "xpsim: error: ");
    EXPECT_EQ(errors, (std::vector<std::string>{"GL error 0x0500 after the draw callback of window \"fixture B\""}));
}

TEST_F(HostTest, ScreenshotFileMatchesTheDesktop) {
    start();
    const std::string path = ::testing::TempDir() + "xpsim_shot.png";
    run("frames 1; screenshot " + path);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    ASSERT_EQ(image.width, 1920u);
    ASSERT_EQ(image.height, 1080u);
    Desktop d{pixels, 1920, 1080, 0, 1080};
    EXPECT_EQ(d.at(100, 979), kRed);
    EXPECT_EQ(d.at(600, 600), kGreen);
    EXPECT_EQ(pixels[3], 255);  // opaque, like a screen
    std::remove(path.c_str());
}

// XPLM calls made straight from test code, with no module loaded.
std::vector<std::string> g_directCalls;

TEST(HostDirect, CallsWithoutAModuleBelongToTheInProcessCaller) {
    xpsim::Options options;
    options.paced = false;
    xpsim::Host host(options);
    EXPECT_EQ(XPLMGetMyID(), 1);
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = 0;
    params.top = 200;
    params.right = 200;
    params.bottom = 0;
    params.visible = 1;
    params.drawWindowFunc = [](XPLMWindowID, void*) { g_directCalls.push_back("draw"); };
    XPLMWindowID id = XPLMCreateWindowEx(&params);
    ASSERT_NE(id, nullptr);
    host.runFrames(3);
    EXPECT_EQ(g_directCalls.size(), 3u);
    XPLMSetWindowIsVisible(id, 0);
    host.runFrames(2);
    EXPECT_EQ(g_directCalls.size(), 3u);  // hidden windows are not drawn
    XPLMDestroyWindow(id);
    XPLMDestroyWindow(id);  // a stale id is refused, not a crash
    EXPECT_NE(host.log().find("xpsim: XPLMDestroyWindow with an unknown window ignored"), std::string::npos);

    // Off the main thread only the log works; anything else is refused and reported.
    XPLMCommandRef fromWorker = reinterpret_cast<XPLMCommandRef>(1);
    std::thread worker([&] {
        XPLMDebugString("from a worker\n");
        fromWorker = XPLMCreateCommand("worker/command", "");
    });
    worker.join();
    EXPECT_EQ(fromWorker, nullptr);
    EXPECT_NE(host.log().find("from a worker\n"), std::string::npos);
    EXPECT_NE(host.log().find("xpsim: error: XPLMCreateCommand called off the main thread; ignored"),
              std::string::npos);
    EXPECT_EQ(host.stateJson().find("worker/command"), std::string::npos);

    char path[] = "/a/b/c.xpl";
    EXPECT_STREQ(XPLMExtractFileAndPath(path), "c.xpl");
    EXPECT_STREQ(path, "/a/b");
}

TEST(HostDirect, PositioningModesAndFrontOrderOfHiddenWindows) {
    xpsim::Options options;
    options.paced = false;
    options.screenLeft = -1000;
    xpsim::Host host(options);  // desktop -1000..1920 x 0..1080
    auto make = [](int layer) {
        XPLMCreateWindow_t params{};
        params.structSize = sizeof params;
        params.left = 0;
        params.top = 300;
        params.right = 400;
        params.bottom = 100;
        params.visible = 1;
        params.layer = layer;
        return XPLMCreateWindowEx(&params);
    };
    auto geometry = [](XPLMWindowID id) {
        int l = 0, t = 0, r = 0, b = 0;
        XPLMGetWindowGeometry(id, &l, &t, &r, &b);
        return std::vector<int>{l, t, r, b};
    };
    XPLMWindowID back = make(xplm_WindowLayerFloatingWindows);
    XPLMWindowID front = make(xplm_WindowLayerFloatingWindows);
    XPLMWindowID modal = make(xplm_WindowLayerModal);
    EXPECT_EQ(XPLMIsWindowInFront(front), 1);
    EXPECT_EQ(XPLMIsWindowInFront(modal), 1);  // front order is per layer
    EXPECT_EQ(XPLMIsWindowInFront(back), 0);
    XPLMSetWindowIsVisible(front, 0);
    EXPECT_EQ(XPLMIsWindowInFront(front), 0);
    EXPECT_EQ(XPLMIsWindowInFront(back), 1);

    XPLMSetWindowPositioningMode(back, xplm_WindowCenterOnMonitor, 0);
    EXPECT_EQ(geometry(back), (std::vector<int>{260, 640, 660, 440}));
    XPLMSetWindowPositioningMode(back, xplm_WindowFullScreenOnMonitor, 0);
    EXPECT_EQ(geometry(back), (std::vector<int>{-1000, 1080, 1920, 0}));
    XPLMSetWindowPositioningMode(back, xplm_WindowVR, -1);  // VR is off: stays on the desktop
    EXPECT_EQ(XPLMWindowIsInVR(back), 0);
    EXPECT_EQ(geometry(back), (std::vector<int>{-1000, 1080, 1920, 0}));
    XPLMSetWindowPositioningMode(back, 42, 0);
    EXPECT_NE(host.log().find("XPLMSetWindowPositioningMode with unknown mode 42 ignored"), std::string::npos);
    EXPECT_EQ(json::parse(host.stateJson())["windows"][0]["positioning_mode"], xplm_WindowVR);
}

// --- the command line

struct CliRun {
    int status = -1;
    std::string output;
};

CliRun runXpsim(const std::string& arguments) {
    const std::string command = std::string(XPSIM_BINARY_PATH) + " " + arguments + " 2>&1";
    CliRun result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(XpsimCommandLine, ExitStatusTellsScriptAndLoadErrorsFromSuccess) {
    const std::string fixture = XPSIM_FIXTURE_PATH;
    const std::string state = ::testing::TempDir() + "xpsim_cli_state.json";
    CliRun ok = runXpsim("--unpaced --screen -1920,1080,0,0 " + fixture + " -e 'frames 2; state " + state + "; quit'");
    EXPECT_EQ(ok.status, 0) << ok.output;
    std::ifstream in(state);
    const json s = json::parse(in);
    EXPECT_EQ(s["windows"][0]["left"], 100);  // the fixture places its windows itself
    std::remove(state.c_str());

    CliRun bad = runXpsim("--unpaced " + fixture + " -e 'frames 1; frobnicate'");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("script line 1 (frobnicate): unknown command 'frobnicate'"), std::string::npos)
        << bad.output;
    EXPECT_NE(bad.output.find("fixture: stop"), std::string::npos);  // still shut down cleanly

    CliRun missing = runXpsim("--unpaced /nonexistent/plugin.xpl -e 'frames 1'");
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.output.find("cannot load /nonexistent/plugin.xpl"), std::string::npos) << missing.output;

    CliRun usage = runXpsim("--fps zero " + fixture);
    EXPECT_NE(usage.status, 0);
    EXPECT_NE(usage.output.find("usage: xpsim"), std::string::npos);
}

TEST(XpsimCommandLine, TerminationSignalStillStopsAndUnloadsThePlugin) {
    const std::string log = ::testing::TempDir() + "xpsim_term.log";
    std::remove(log.c_str());
    // Paced: the script would run for a minute. The signal goes once the plugin is enabled.
    const std::string script = "(" + std::string(XPSIM_BINARY_PATH) + " --log " + log + " " + XPSIM_FIXTURE_PATH +
                               " -e 'wait 60' 2>&1 & pid=$!; "
                               "for i in $(seq 100); do grep -q 'fixture: enable' " + log +
                               " 2>/dev/null && break; sleep 0.1; done; "
                               "kill -TERM $pid; wait $pid; echo status=$?)";
    FILE* pipe = popen(script.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096];
    std::string output;
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    EXPECT_NE(output.find("status=2"), std::string::npos) << output;
    EXPECT_NE(output.find("interrupted"), std::string::npos) << output;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("fixture: disable\nfixture: stop\n"), std::string::npos) << text.str();
    std::remove(log.c_str());
}

TEST(XpsimCommandLine, LogFileGetsEveryLine) {
    const std::string log = ::testing::TempDir() + "xpsim_cli.log";
    CliRun ok = runXpsim("--unpaced --log " + log + " " + XPSIM_FIXTURE_PATH + " -e 'message 42; quit'");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.output.find("fixture: start"), std::string::npos);  // not on stdout
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("fixture: start mode=normal\n"), std::string::npos);
    EXPECT_NE(text.str().find("fixture: message from=0 msg=42"), std::string::npos);
    EXPECT_NE(text.str().find("xpsim: unloaded Fixture\n"), std::string::npos);
    std::remove(log.c_str());
}

}  // namespace
