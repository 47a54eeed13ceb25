// The settings file as the running plugin uses it. Values that only the browser sees are read
// off the fake DevTools peer's log of the commands it received.
#include "module_fixture.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class SettingsFileTest : public ModuleTest {
protected:
    // The parameters of every command `method` the browser received, in order.
    std::vector<nlohmann::json> received(const std::string& method) const
    {
        std::vector<nlohmann::json> found;
        std::istringstream lines(browserLog());
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(method + " ", 0) != 0) continue;
            std::string params = line.substr(method.size() + 1);
            const auto session = params.rfind(" session=");
            if (session != std::string::npos) params.resize(session);
            found.push_back(nlohmann::json::parse(params));
        }
        return found;
    }

    // Starts with the settings text and waits until the page has been navigated to.
    void startWithBrowser(const std::string& generalLines, const std::string& before = "")
    {
        writeSettings(before + "[General]\n" + fakeBrowserLine() + generalLines);
        ASSERT_TRUE(start());
        ASSERT_TRUE(runUntilBrowserLogged("Page.navigate")) << log();
        // A few more frames so the replies of the bring-up reach the plugin.
        settle(20);
    }

    // Frames a little real time apart, so the browser's answers come back in between.
    void settle(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            host->runFrames(1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Settles until the browser has received more than `count` viewport commands.
    bool viewportsExceed(std::size_t count)
    {
        for (int i = 0; i < 400 && received("Emulation.setDeviceMetricsOverride").size() <= count; ++i) settle(1);
        return received("Emulation.setDeviceMetricsOverride").size() > count;
    }

    void runUntilElapsed(double seconds)
    {
        while (host->elapsedTime() < seconds) host->runFrames(60);
    }
};

TEST_F(SettingsFileTest, NamesAreMatchedWithoutRegardToCase)
{
    writeSettings("[general]\n" + fakeBrowserLine() + "ZOOMLEVEL = 1.25\nweburl = http://127.0.0.1:9/page\n");
    ASSERT_TRUE(start());
    ASSERT_TRUE(runUntilBrowserLogged("Page.navigate")) << log();
    const auto viewports = received("Emulation.setDeviceMetricsOverride");
    ASSERT_FALSE(viewports.empty());
    EXPECT_DOUBLE_EQ(viewports.front()["deviceScaleFactor"].get<double>(), 1.25);
    EXPECT_EQ(received("Page.navigate").front()["url"], "http://127.0.0.1:9/page");
}

TEST_F(SettingsFileTest, AnEmptyWebUrlIsNavigatedToAsItStands)
{
    startWithBrowser("WebURL =\n");
    EXPECT_EQ(received("Page.navigate").front()["url"], "");
}

TEST_F(SettingsFileTest, AFractionalReloadPeriodIsCutToWholeSeconds)
{
    startWithBrowser("refreshWebPageSecs = 30.9\n");
    ASSERT_LT(host->elapsedTime(), 30.0);
    runUntilElapsed(30.4);
    settle(10);
    EXPECT_EQ(received("Page.navigate").size(), 2u);
    runUntilElapsed(60.5);
    settle(10);
    EXPECT_EQ(received("Page.navigate").size(), 3u);
}

TEST_F(SettingsFileTest, AReloadPeriodThatIsNotANumberMeansNever)
{
    startWithBrowser("refreshWebPageSecs = abc\n");
    runUntilElapsed(130.0);
    settle(10);
    EXPECT_EQ(received("Page.navigate").size(), 1u);
}

TEST_F(SettingsFileTest, OtherSectionsSurviveAndTheZoomStepIsRecorded)
{
    startWithBrowser("refreshWebPageSecs = 0\nmine = 42\n", "; my notes\n[Other]\nkeep = me\n\n");
    const std::size_t before = received("Emulation.setDeviceMetricsOverride").size();
    run("command Corvane/IncreaseWebZoom once");
    ASSERT_TRUE(viewportsExceed(before));
    const auto viewports = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(viewports.size(), before + 1);
    EXPECT_NEAR(viewports.back()["deviceScaleFactor"].get<double>(), 0.55, 1e-6);
    run("quit");

    const std::string text = settingsText();
    EXPECT_NE(text.find("[Other]"), std::string::npos) << text;
    EXPECT_NE(text.find("keep = me"), std::string::npos) << text;
    EXPECT_NE(text.find("mine = 42"), std::string::npos) << text;
    EXPECT_NE(text.find("BrowserPath = "), std::string::npos) << text;
    EXPECT_NE(text.find("zoomLevel = 0.550000"), std::string::npos) << text;
}

TEST_F(SettingsFileTest, AZoomCommandHeldForSecondsMakesOneStep)
{
    startWithBrowser("refreshWebPageSecs = 0\n");
    const std::size_t before = received("Emulation.setDeviceMetricsOverride").size();
    run("hold Corvane/DecreaseWebZoom 3");
    ASSERT_TRUE(viewportsExceed(before));
    settle(20);
    const auto viewports = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(viewports.size(), before + 1);
    EXPECT_NEAR(viewports.back()["deviceScaleFactor"].get<double>(), 0.45, 1e-6);
    run("quit");
    EXPECT_NE(settingsText().find("zoomLevel = 0.450000"), std::string::npos) << settingsText();
}

TEST_F(SettingsFileTest, ARunWithoutFileOrZoomStepLeavesAnEmptyFile)
{
    hideBrowsersOnPath();
    ASSERT_TRUE(start());
    ASSERT_FALSE(std::filesystem::exists(settingsPath));
    run("command Corvane/TogglePanel once; frames 30; quit");
    ASSERT_TRUE(std::filesystem::exists(settingsPath));
    EXPECT_EQ(std::filesystem::file_size(settingsPath), 0u);
}

}  // namespace
