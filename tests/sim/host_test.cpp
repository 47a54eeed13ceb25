// The stand-in host driven in-process with the fixture module, plus the xpsim command line.
// Only what the plugin's own tests cannot show: how the host answers a module that breaks its
// rules (leaks, null slots, trusting the GL state, calls off the main thread) and the script
// commands no plugin test reaches. Built for Linux and for Windows (run under Wine), so both
// hosts keep the same rules.
#include "host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
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
const Rgba kRed{255, 0, 0, 255};

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
    EXPECT_TRUE(lines("fixture: ", "command").empty() && lines("fixture: ", "click").empty()) << host_->log();
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
    EXPECT_EQ(lines("fixture: ", "click C"), (std::vector<std::string>{"click C 1100 200 status=1", "click C 1100 200 status=3"}));
}

// The colours of a watch file's lines, each line checked for its form: Unix seconds with 6
// decimals, R G B.
std::vector<Rgba> readWatch(const std::string& path) {
    std::vector<Rgba> result;
    std::ifstream in(path);
    const std::regex form(R"(^\d+\.\d{6} (\d{1,3}) (\d{1,3}) (\d{1,3})$)");
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(text, m, form)) << text;
        if (!m.empty()) result.push_back({std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])});
    }
    return result;
}

TEST_F(HostTest, WatchWritesThePixelAtOnceAndAgainOnTheFrameItsColourChanges) {
    start();
    const std::string path = (fs::temp_directory_path() / "xpsim_watch.txt").string();
    std::remove(path.c_str());
    const Rgba red{255, 0, 0}, blue{0, 0, 255};
    // Frames that leave the colour as it is add nothing; A turns blue in the frame after the cue.
    run("frames 1; watch 300 900 " + path + "; frames 3; command fixture/recolour; frames 1");
    EXPECT_EQ(readWatch(path), (std::vector<Rgba>{red, blue}));
    run("frames 2; unwatch; command fixture/recolour; frames 2");
    EXPECT_EQ(at(300, 900), kRed);
    EXPECT_EQ(readWatch(path).size(), 2u) << "unwatch stops the lines";

    // The point maps as for screenshots, y up: A's bottom row is boxel 468, the row below is
    // not A's. A new watch appends to the file.
    run("watch 100 468 " + path + "; watch 100 467 " + path + "; unwatch");
    const auto seen = readWatch(path);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[2], red);
    EXPECT_NE(seen[3], red);
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
