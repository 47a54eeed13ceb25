// The stand-in host driven in-process with the fixture module: only the rules the plugin's own
// tests rely on the host to enforce and cannot show themselves. A module that leaks, leaves a
// callback slot empty, calls XPLM off the main thread or uploads trusting the GL state it finds
// must be caught, or those tests pass for the wrong reason. Built for Linux and for Windows (run
// under Wine), so both hosts keep the same rules.
#include "host.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#    include <windows.h>
#endif

namespace {

#if defined(_WIN32)
// The fixture lies beside this test in the build folder's top.
std::string fixturePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (std::filesystem::path(path).parent_path() / "fixture\\fixture.xpl").string();
}
void setFixtureMode(const char* mode) { _putenv_s("XPSIM_FIXTURE_MODE", mode); }
#else
std::string fixturePath() { return XPSIM_FIXTURE_PATH; }
void setFixtureMode(const char* mode) { setenv("XPSIM_FIXTURE_MODE", mode, 1); }
#endif

const std::string kNullSlot = "xpsim: error: XPLMCreateWindowEx with a null ";
const std::string kEverySlot = "; X-Plane requires a function in every callback slot";
const std::string kOffThread = " called off the main thread";

struct Rule {
    const char* name;
    const char* mode;  // the fixture's XPSIM_FIXTURE_MODE
    bool hostileGl;
    const char* script;
    std::vector<std::string> logged;  // whole lines, each as many times as listed
    std::vector<std::string> never;   // no line starts with one of these
    std::optional<bool> redShown;     // whether window A's red reaches the desktop
    double uiScale = 1.0;             // pixels per boxel
};

const Rule kRules[] = {
    // Stop cleans nothing up: each leftover is named and removed, the menu stays listed as the
    // simulator keeps it, and nothing calls into the unloaded module any more.
    {"Leak",
     "leak",
     true,
     "frames 2; quit; frames 2; command fixture/cmd; click 600 600",
     {"xpsim: leak: window \"A\" left by Fixture", "xpsim: leak: command handler on fixture/cmd left by Fixture",
      "xpsim: leak: flight loop left by Fixture", "xpsim: Fixture left 1 menu(s) behind"},
     {"fixture: command", "fixture: click"},
     std::nullopt},
    // Window C's empty slots are errors; its events go nowhere, its click still arrives.
    {"NullSlots",
     "rude",
     true,
     "click 1100 200; command fixture/focus-c; key k; hover 1100 200; rightclick 1100 200; wheel 1100 200 1",
     {kNullSlot + "handleKeyFunc" + kEverySlot, kNullSlot + "handleCursorFunc" + kEverySlot,
      kNullSlot + "handleMouseWheelFunc" + kEverySlot, kNullSlot + "handleRightClickFunc" + kEverySlot,
      "xpsim: window \"C\" has no key callback", "xpsim: window \"C\" has no key callback",  // press, release
      "xpsim: window \"C\" has no cursor callback", "xpsim: window \"C\" has no right-click callback",
      "xpsim: window \"C\" has no mouse wheel callback", "fixture: click C 1100 200 status=1",
      "fixture: click C 1100 200 status=3"},
     {kNullSlot + "drawWindowFunc"},
     std::nullopt},
    // Reported once a minute per function, and still answered.
    {"OffTheMainThread",
     "normal",
     true,
     "wait 0.5; command fixture/thread; command fixture/thread",
     {"xpsim: error: XPLMDebugString" + kOffThread, "xpsim: error: XPLMGetElapsedTime" + kOffThread,
      "xpsim: error: XPLMFindDataRef" + kOffThread, "xpsim: error: XPLMGetDatai" + kOffThread,
      "fixture: thread elapsed=0.500 vr=0", "fixture: thread elapsed=0.500 vr=0"},
     {},
     std::nullopt},
    // The red image is taken for an offset into the bound pixel buffer, which it overruns; only
    // a clean GL start lets the naive upload work.
    {"UploadTrustingHostileGl",
     "naive-gl",
     true,
     "frames 2",
     {"xpsim: error: GL error 0x0502 after the draw callback of window \"A\""},
     {},
     false},
    {"UploadTrustingCleanGl", "naive-gl", false, "frames 2", {}, {"xpsim: error: "}, true},
    // Drawn in boxels, read back in pixels: the window covers twice as many each way.
    {"UploadAtUiScale2", "naive-gl", false, "frames 2", {}, {"xpsim: error: "}, true, 2.0},
};

class HostRules : public ::testing::TestWithParam<Rule> {
protected:
    void TearDown() override { setFixtureMode("normal"); }
};

TEST_P(HostRules, AreEnforcedOnTheFixture) {
    const Rule& rule = GetParam();
    setFixtureMode(rule.mode);
    xpsim::Options options;
    options.paced = false;
    options.hostileGl = rule.hostileGl;
    options.uiScale = rule.uiScale;
    xpsim::Host host(options);
    std::string error;
    ASSERT_TRUE(host.load(fixturePath(), error)) << error;
    ASSERT_TRUE(host.run(rule.script, error)) << error;

    std::vector<std::string> lines;
    std::istringstream in(host.log());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    for (const std::string& expected : rule.logged) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), expected),
                  std::count(rule.logged.begin(), rule.logged.end(), expected))
            << expected << "\n"
            << host.log();
    }
    for (const std::string& prefix : rule.never) {
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [&](auto& l) { return l.rfind(prefix, 0) == 0; }))
            << prefix << "\n"
            << host.log();
    }
    if (rule.redShown) {
        std::vector<std::uint8_t> desktop;
        int width = 0, height = 0;
        ASSERT_TRUE(host.readDesktop(desktop, width, height));
        const int scale = static_cast<int>(rule.uiScale);
        ASSERT_TRUE(width == 1920 * scale && height == 1080 * scale);
        // Boxel (300, 900)'s bottom-left pixel, and the pixel left of the window's left edge.
        auto isRed = [&](int column, int row) {
            const std::size_t i = (static_cast<std::size_t>(row) * width + column) * 4;
            return desktop[i] == 255 && desktop[i + 1] == 0 && desktop[i + 2] == 0;
        };
        EXPECT_EQ(isRed(300 * scale, (1080 - 900) * scale - 1), *rule.redShown);
        EXPECT_FALSE(isRed(100 * scale - 1, (1080 - 900) * scale - 1));
    }
    if (std::string(rule.mode) == "leak") {
        const auto state = nlohmann::json::parse(host.stateJson());
        EXPECT_TRUE(state["windows"].empty());
        EXPECT_EQ(state["flight_loops"], 0);
        for (const auto& command : state["commands"]) EXPECT_EQ(command["handlers"], 0);
        EXPECT_EQ(state["menus"].size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixture, HostRules, ::testing::ValuesIn(kRules),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
