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

TEST_F(ModuleTest, FirstStartWithoutSettingsFile)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    ASSERT_TRUE(host->pluginLoaded());
    const std::string text = log();
    const auto banner = text.find("Pluginstart: Corvane Toolbar v0.7\n");
    ASSERT_NE(banner, std::string::npos) << text;
    EXPECT_LT(banner, text.find("Error loading INI from " + settingsPath + ". Reverting to defaults..\n")) << text;

    const nlohmann::json s = state();
    EXPECT_EQ(s["plugin"], nlohmann::json::parse(R"({"name":"CorvaneToolbar","signature":"ai.corvane.plugin",
        "description":"A plugin that creates a panel for Corvane.","started":true})"));
    EXPECT_EQ(s["windows"].size(), 1u);
    const nlohmann::json w = panel();
    for (const char* key : {"visible", "left", "top", "right", "bottom", "positioning_mode", "gravity", "layer",
                            "decoration"})
        EXPECT_EQ(w[key], nlohmann::json::parse(R"({"visible":false,"left":100,"top":980,"right":868,"bottom":468,
            "positioning_mode":0,"gravity":[0,1,0,1],"layer":1,"decoration":1})")[key]) << key;
    for (const auto& c : s["commands"]) EXPECT_EQ(c["handlers"], 1) << c;
    EXPECT_EQ(s["commands"].size(), 3u);
    EXPECT_EQ(s["menus"], nlohmann::json::parse(R"([{"title":"Corvane Toolbar","in_menu_bar":true,
        "items":["Toggle Panel on/off."]}])"));
    EXPECT_EQ(s["textures"], 1);

    // A run that recorded no zoom step leaves an empty settings file behind.
    run("command Corvane/TogglePanel once; frames 30; quit");
    EXPECT_EQ(log().find("xpsim: leak:"), std::string::npos) << log();
    ASSERT_TRUE(std::filesystem::exists(settingsPath));
    EXPECT_EQ(std::filesystem::file_size(settingsPath), 0u);
}

TEST_F(ModuleTest, PanelMarginIsTakenFromTheGlobalDesktop)
{
    hideBrowsersOnPath();
    xpsim::Options options = defaultOptions();
    options.screenLeft = -1920;
    ASSERT_TRUE(start(options));
    const nlohmann::json w = panel();
    EXPECT_EQ(w["left"], -1820);
    EXPECT_EQ(w["top"], 980);
    EXPECT_EQ(w["right"], -1052);
    EXPECT_EQ(w["bottom"], 468);
}

TEST_F(ModuleTest, CommandReleaseAndMenuItemToggleThePanelOnce)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    run("command Corvane/TogglePanel begin; frames 3");
    EXPECT_EQ(panel()["visible"], false);
    run("command Corvane/TogglePanel end");
    EXPECT_EQ(panel()["visible"], true);
    run("menu Toggle Panel on/off.");
    EXPECT_EQ(panel()["visible"], false);
    run("hold Corvane/TogglePanel 3");
    EXPECT_EQ(panel()["visible"], true);
    run("hold Corvane/TogglePanel 2.5");
    EXPECT_EQ(panel()["visible"], false);
}

TEST_F(ModuleTest, VrAtStartAndVrMessagesFromTheSimulatorOnly)
{
    hideBrowsersOnPath();
    xpsim::Options options = defaultOptions();
    options.vr = true;
    ASSERT_TRUE(start(options));
    EXPECT_EQ(panel()["positioning_mode"], 5);
    EXPECT_EQ(panel()["in_vr"], true);

    run("message 110 5");
    EXPECT_EQ(panel()["positioning_mode"], 5);
    run("vr off");
    EXPECT_EQ(panel()["positioning_mode"], 0);
    EXPECT_EQ(panel()["monitor"], 0);
    run("message 110; message 109 5");
    EXPECT_EQ(panel()["positioning_mode"], 0);
    run("message 109");  // the hidden panel moves into VR all the same
    EXPECT_EQ(panel()["positioning_mode"], 5);
    EXPECT_EQ(panel()["visible"], false);
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
    EXPECT_EQ(panel()["visible"], false);  // a fresh start, not the panel shown before
    for (const auto& c : s["commands"]) EXPECT_EQ(c["handlers"], 1) << c;
    EXPECT_EQ(s["textures"], 1);
}

}  // namespace
