// The stand-in host driven in-process with the fixture module, plus the xpsim command line.
#include "host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

using nlohmann::json;

class HostTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("XPSIM_FIXTURE_MODE"); }

    void start(const std::string& mode = "normal") {
        setenv("XPSIM_FIXTURE_MODE", mode.c_str(), 1);
        xpsim::Options options;
        options.paced = false;
        host_ = std::make_unique<xpsim::Host>(options);
        std::string error;
        EXPECT_TRUE(host_->load(XPSIM_FIXTURE_PATH, error)) << error;
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
            if (line.rfind(prefix + filter, 0) == 0) result.push_back(line.substr(prefix.size()));
        }
        return result;
    }

    bool logged(const std::string& line) const {
        const auto all = lines("");
        return std::find(all.begin(), all.end(), line) != all.end();
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

    std::unique_ptr<xpsim::Host> host_;
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

TEST_F(HostTest, FailedStartGetsNoFurtherCallAndIsUnloaded) {
    start("fail-start");
    EXPECT_FALSE(host_->pluginLoaded());
    run("frames 3; command fixture/cmd; click 600 600; vr on");
    const auto all = lines();
    ASSERT_EQ(all.size(), 1u) << host_->log();
    EXPECT_EQ(all[0].rfind("start mode=fail-start", 0), 0u);
    EXPECT_TRUE(lines("xpsim: leak: ").empty()) << host_->log();
    EXPECT_TRUE(lines("xpsim: ", "Fixture left").empty()) << host_->log();
    EXPECT_TRUE(json::parse(host_->stateJson())["menus"].empty());
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

TEST_F(HostTest, PointerGoesToTheFrontWindowAndStaysCapturedUntilReleaseAndVrHasItsOwnSpace) {
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

    run("vr on");
    EXPECT_EQ(geometry("A"), (std::vector<int>{0, 512, 768, 0}));
    run("click 600 300");  // in VR the pointer aims at the VR window, even where B is on the desktop
    EXPECT_EQ(lines("fixture: ", "click").back(), "click A 600 300 status=3");
    run("vr off");
    EXPECT_EQ(geometry("A"), (std::vector<int>{100, 980, 868, 468}));
}

TEST_F(HostTest, ScreenshotHasTheWindowsWhereTheMappingSays) {
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
    std::remove(path.c_str());
    ASSERT_EQ(image.width, 1920u);
    ASSERT_EQ(image.height, 1080u);
    // The pixel covering boxel (x, y) is at column x, row 1079 - y.
    auto at = [&](int x, int y) {
        const std::size_t i = (static_cast<std::size_t>(1079 - y) * 1920 + x) * 4;
        return std::vector<int>{pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    };
    const std::vector<int> red{255, 0, 0, 255}, green{0, 255, 0, 255};
    // A at (100, 980)-(868, 468) red, B at (500, 700)-(900, 300) green in front.
    EXPECT_EQ(at(100, 979), red);  // top-left pixel of A: column 100, row 100
    EXPECT_EQ(at(100, 468), red);  // bottom-left pixel of A
    EXPECT_EQ(at(899, 300), green);  // bottom-right pixel of B
    EXPECT_EQ(at(600, 600), green);
    EXPECT_NE(at(100, 980), red);  // title strip above A
    EXPECT_NE(at(99, 700), red);
    EXPECT_NE(at(100, 467), red);
}

TEST(XpsimCommandLine, AScriptErrorEndsWithANonZeroStatusNamingTheLine) {
    const std::string command = std::string(XPSIM_BINARY_PATH) + " --unpaced " + XPSIM_FIXTURE_PATH +
                                " -e 'frames 1\nfrobnicate' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (std::size_t n = 0; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(output.find("script line 2 (frobnicate): unknown command 'frobnicate'"), std::string::npos) << output;
    EXPECT_NE(output.find("fixture: stop"), std::string::npos);  // still shut down cleanly
}

}  // namespace
