// The module as X-Plane drives it: start, identity, panel window, commands, menu, VR, reload
// and a start that fails.
#include "module_fixture.h"

#include <filesystem>
#include <string>

namespace {

int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

TEST_F(ModuleTest, StartsWithBannerIdentityAndAHiddenPanel)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    EXPECT_TRUE(host->pluginLoaded());
    const std::string text = log();
    const auto banner = text.find("Pluginstart: Corvane Toolbar v0.7\n");
    const auto loadError = text.find("Error loading INI from " + settingsPath + ". Reverting to defaults..\n");
    ASSERT_NE(banner, std::string::npos) << text;
    ASSERT_NE(loadError, std::string::npos) << text;
    EXPECT_LT(banner, loadError);

    const nlohmann::json s = state();
    EXPECT_EQ(s["plugin"]["name"], "CorvaneToolbar");
    EXPECT_EQ(s["plugin"]["signature"], "ai.corvane.plugin");
    EXPECT_EQ(s["plugin"]["description"], "A plugin that creates a panel for Corvane.");
    EXPECT_EQ(s["plugin"]["started"], true);

    const nlohmann::json w = panel();
    EXPECT_EQ(w["visible"], false);
    EXPECT_EQ(w["left"], 100);
    EXPECT_EQ(w["top"], 980);
    EXPECT_EQ(w["right"], 868);
    EXPECT_EQ(w["bottom"], 468);
    EXPECT_EQ(w["positioning_mode"], 0);
    EXPECT_EQ(w["gravity"], nlohmann::json::parse("[0,1,0,1]"));
    EXPECT_EQ(w["layer"], 1);
    EXPECT_EQ(w["decoration"], 1);
    EXPECT_EQ(s["windows"].size(), 1u);

    int commands = 0;
    for (const auto& c : s["commands"]) {
        if (c["name"] == "Corvane/TogglePanel" || c["name"] == "Corvane/IncreaseWebZoom" ||
            c["name"] == "Corvane/DecreaseWebZoom") {
            ++commands;
            EXPECT_EQ(c["handlers"], 1) << c;
        }
    }
    EXPECT_EQ(commands, 3);
    ASSERT_EQ(s["menus"].size(), 1u);
    EXPECT_EQ(s["menus"][0]["title"], "Corvane Toolbar");
    EXPECT_EQ(s["menus"][0]["in_menu_bar"], true);
    EXPECT_EQ(s["menus"][0]["items"], nlohmann::json::parse(R"(["Toggle Panel on/off."])"));
    EXPECT_EQ(s["textures"], 1);
    EXPECT_GE(s["flight_loops"], 1);
}

TEST_F(ModuleTest, PanelKeepsItsMarginOnADesktopLeftOfTheMainMonitor)
{
    hideBrowsersOnPath();
    xpsim::Options options = defaultOptions();
    options.screenLeft = -1920;
    options.screenTop = 1080;
    options.screenRight = 1920;
    options.screenBottom = 0;
    ASSERT_TRUE(start(options));
    const nlohmann::json w = panel();
    EXPECT_EQ(w["left"], -1820);
    EXPECT_EQ(w["top"], 980);
    EXPECT_EQ(w["right"], -1052);
    EXPECT_EQ(w["bottom"], 468);
}

TEST_F(ModuleTest, ReleaseOfTheCommandOrTheMenuItemTogglesThePanel)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    run("command Corvane/TogglePanel begin; frames 3");
    EXPECT_EQ(panel()["visible"], false);
    run("command Corvane/TogglePanel end");
    EXPECT_EQ(panel()["visible"], true);
    run("command Corvane/TogglePanel once");
    EXPECT_EQ(panel()["visible"], false);
    run("menu Toggle Panel on/off.");
    EXPECT_EQ(panel()["visible"], true);
    run("menu Toggle Panel on/off.");
    EXPECT_EQ(panel()["visible"], false);
}

TEST_F(ModuleTest, ACommandHeldForSecondsActsOnce)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    run("hold Corvane/TogglePanel 3");
    EXPECT_EQ(panel()["visible"], true);
    run("hold Corvane/TogglePanel 2.5");
    EXPECT_EQ(panel()["visible"], false);
}

TEST_F(ModuleTest, StartInVrPlacesThePanelInVr)
{
    hideBrowsersOnPath();
    xpsim::Options options = defaultOptions();
    options.vr = true;
    ASSERT_TRUE(start(options));
    const nlohmann::json w = panel();
    EXPECT_EQ(w["positioning_mode"], 5);
    EXPECT_EQ(w["in_vr"], true);
    EXPECT_EQ(w["visible"], false);
}

TEST_F(ModuleTest, VrMessagesCountOnlyFromTheSimulator)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    run("message 109 5");
    EXPECT_EQ(panel()["positioning_mode"], 0);

    run("vr on");
    EXPECT_EQ(panel()["positioning_mode"], 5);
    EXPECT_EQ(panel()["in_vr"], true);
    EXPECT_EQ(panel()["visible"], false);

    run("message 110 5");
    EXPECT_EQ(panel()["positioning_mode"], 5);

    run("vr off");
    EXPECT_EQ(panel()["positioning_mode"], 0);
    EXPECT_EQ(panel()["monitor"], 0);
    EXPECT_EQ(panel()["in_vr"], false);

    // Leaving VR when the panel is not in VR changes nothing.
    run("message 110");
    EXPECT_EQ(panel()["positioning_mode"], 0);
}

TEST_F(ModuleTest, AStartWithoutTheVrDatarefFailsAndLeavesNothingBehind)
{
    writeSettings("[General]\n" + fakeBrowserLine());
    xpsim::Options options = defaultOptions();
    options.vrDataref = false;
    makeHost(options);
    const int threadsBefore = threadCount();
    const int childrenBefore = childProcessCount();
    ASSERT_TRUE(loadModule());

    EXPECT_FALSE(host->pluginLoaded());
    const std::string text = log();
    EXPECT_NE(text.find("returned 0"), std::string::npos) << text;
    EXPECT_EQ(text.find("xpsim: leak:"), std::string::npos) << text;
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_EQ(childProcessCount(), childrenBefore);
    const nlohmann::json s = state();
    EXPECT_TRUE(s["windows"].empty());
    EXPECT_EQ(s["flight_loops"], 0);
    EXPECT_EQ(s["textures"], 0);
    for (const auto& c : s["commands"]) EXPECT_EQ(c["handlers"], 0) << c;
    // The settings file is the user's: a start that failed does not rewrite it.
    EXPECT_EQ(settingsText(), "[General]\n" + fakeBrowserLine());
}

TEST_F(ModuleTest, ReloadTwiceInARowStartsCleanEachTime)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    run("command Corvane/TogglePanel once; reload; reload; frames 5");
    ASSERT_TRUE(host->pluginLoaded());
    const std::string text = log();
    EXPECT_EQ(countOf(text, "Pluginstart: Corvane Toolbar v0.7\n"), 3);
    EXPECT_EQ(text.find("xpsim: leak:"), std::string::npos) << text;
    EXPECT_EQ(text.find("stays mapped"), std::string::npos) << text;
    const nlohmann::json s = state();
    EXPECT_EQ(s["windows"].size(), 1u);
    EXPECT_EQ(panel()["visible"], false);  // a fresh start, not the shown panel of before
    for (const auto& c : s["commands"]) EXPECT_EQ(c["handlers"], 1) << c;
    EXPECT_EQ(s["textures"], 1);
}

TEST_F(ModuleTest, QuitReleasesEverythingAndWritesTheSettings)
{
    writeSettings("[General]\n" + fakeBrowserLine());
    makeHost(defaultOptions());
    const int threadsBefore = threadCount();
    const int childrenBefore = childProcessCount();
    ASSERT_TRUE(loadModule());
    ASSERT_TRUE(runUntilBrowserLogged("Page.navigate"));
    run("command Corvane/TogglePanel once; frames 60; quit");
    EXPECT_FALSE(host->pluginLoaded());
    const std::string text = log();
    EXPECT_EQ(text.find("xpsim: leak:"), std::string::npos) << text;
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_EQ(childProcessCount(), childrenBefore);
    EXPECT_TRUE(std::filesystem::exists(settingsPath));
}

}  // namespace
