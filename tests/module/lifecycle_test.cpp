// The module as X-Plane drives it: start, identity, panel window, commands, menu, VR, reload
// and a start that fails.
#include "module_fixture.h"
#include "processes.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<int> rectangle(const nlohmann::json& w) { return {w["left"], w["top"], w["right"], w["bottom"]}; }

TEST_F(ModuleTest, FirstStartWithoutSettingsFile) {
    ASSERT_TRUE(start());
    const std::string settingsPath = pluginFolder + "/cv_settings.ini";
    const nlohmann::json w = panel();
    EXPECT_EQ(rectangle(w), std::vector<int>({100, 980, 868, 468}));
    EXPECT_EQ(w["visible"], false);

    // A run that recorded no zoom step leaves an empty settings file behind.
    run("command Corvane/TogglePanel once; frames 30; quit");
    EXPECT_EQ(host->log().find("xpsim: leak:"), std::string::npos) << host->log();
    ASSERT_TRUE(std::filesystem::exists(settingsPath));
    EXPECT_EQ(std::filesystem::file_size(settingsPath), 0u);
}

TEST_F(ModuleTest, CommandReleaseAndMenuItemToggleThePanelOnce) {
    xpsim::Options options;
    options.screenLeft = -1920;  // the panel's margin is taken from the global desktop
    ASSERT_TRUE(start(options));
    EXPECT_EQ(rectangle(panel()), std::vector<int>({-1820, 980, -1052, 468}));

    run("command Corvane/TogglePanel begin; frames 3");
    EXPECT_EQ(panel()["visible"], false);
    run("command Corvane/TogglePanel end");
    EXPECT_EQ(panel()["visible"], true);
    run("menu Toggle Panel on/off.");
    EXPECT_EQ(panel()["visible"], false);
    run("hold Corvane/TogglePanel 3");
    EXPECT_EQ(panel()["visible"], true);
    // The close box hides it; one toggle brings it back.
    run("frames 2; close; frames 2");
    EXPECT_EQ(panel()["visible"], false);
    EXPECT_EQ(panel()["drawn"], false);
    run("hold Corvane/TogglePanel 2.5; frames 2");
    EXPECT_EQ(panel()["visible"], true);
    EXPECT_EQ(panel()["drawn"], true);
}

TEST_F(ModuleTest, VrAtStartAndVrMessagesFromTheSimulatorOnly) {
    xpsim::Options options;
    options.vr = true;
    ASSERT_TRUE(start(options));
    EXPECT_EQ(panel()["positioning_mode"], 5);

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

TEST_F(ModuleTest, WhileDisabledThePanelIsNeitherDrawnNorToggledAndItsScreencastRestsUntilEnabled) {
    // The fake DevTools peer is the browser: its screencast shows whether the panel's work rests.
    const std::string fakeLog = sandbox.file("fake.log");
    setenv("CV_FAKE_CDP_LOG", fakeLog.c_str(), 1);
    sandbox.settings("refreshWebPageSecs = 0\nBrowserPath = " CV_FAKE_CDP_PATH "\n");
    struct Unset {
        ~Unset() { unsetenv("CV_FAKE_CDP_LOG"); }
    } unset;
    // Whether the last screencast command the browser got started it. The bring-up and the page's
    // load may each stop and start it too, so the last one counts, not how many there were.
    auto running = [&] {
        const std::string log = testprocs::slurp(fakeLog);
        const std::size_t start = log.rfind("\nPage.startScreencast"), stop = log.rfind("\nPage.stopScreencast");
        return start != std::string::npos && (stop == std::string::npos || start > stop);
    };
    auto loaded = [&] { return testprocs::slurp(fakeLog).find("\nPage.navigate") != std::string::npos; };
    ASSERT_TRUE(start());
    run("command Corvane/TogglePanel once");
    ASSERT_TRUE(framesUntil([&] { return loaded() && running(); }, std::chrono::seconds(60)));
    // Toggled once by command and once from the menu while disabled: neither runs.
    for (const char* toggle : {"command Corvane/TogglePanel once", "menu Toggle Panel on/off."}) {
        run("disable");
        EXPECT_TRUE(framesUntil([&] { return !running(); }, std::chrono::seconds(20))) << toggle;
        run(std::string("frames 30; ") + toggle);
        EXPECT_FALSE(running()) << toggle;
        EXPECT_EQ(panel()["drawn"], false);
        EXPECT_EQ(panel()["visible"], true) << toggle;
        run("enable; frames 2");
        EXPECT_EQ(panel()["drawn"], true);
        EXPECT_TRUE(framesUntil(running, std::chrono::seconds(20))) << testprocs::slurp(fakeLog);
    }
}

TEST_F(ModuleTest, AStartWithoutTheVrDatarefFailsAndLeavesNothingBehind) {
    // A browser is configured, so a start that got as far as launching it would show here.
    const std::string settings = "BrowserPath = " CV_FAKE_CDP_PATH "\n";
    sandbox.settings(settings);
    xpsim::Options options;
    options.vrDataref = false;
    makeHost(options);
    const int threadsBefore = entriesIn("/proc/self/task");
    ASSERT_TRUE(loadModule());

    EXPECT_FALSE(host->pluginLoaded());
    const std::string text = host->log();
    EXPECT_NE(text.find("returned 0"), std::string::npos) << text;
    // Plugin Admin shows the reason, from the description.
    EXPECT_NE(text.find("xpsim: the failed plugin's description: Not started: the simulator does not publish "
                        "sim/graphics/VR/enabled.\n"),
              std::string::npos)
        << text;
    // Whatever a failed start left registered, the host names in one of these lines.
    EXPECT_EQ(text.find("xpsim: leak:"), std::string::npos) << text;
    EXPECT_EQ(text.find("menu(s) behind"), std::string::npos) << text;
    EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
    // The settings file is the user's: a start that failed does not rewrite it.
    EXPECT_EQ(testprocs::slurp(pluginFolder + "/cv_settings.ini"), "[General]\n" + settings);
}

}  // namespace
