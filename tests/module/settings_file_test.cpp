// The settings file as the running plugin uses it. Values that only the browser sees are read
// off the fake DevTools peer's log of the commands it received.
#include "module_fixture.h"

#include <sstream>
#include <string>
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
            params.resize(std::min(params.size(), params.rfind(" session=")));
            found.push_back(nlohmann::json::parse(params));
        }
        return found;
    }
    std::size_t viewports() const { return received("Emulation.setDeviceMetricsOverride").size(); }

    // Starts with these settings and waits until the page has been navigated to.
    void startWithBrowser(const std::string& text)
    {
        writeSettings(text + fakeBrowserLine());
        ASSERT_TRUE(start());
        ASSERT_TRUE(runUntilBrowserLogged("Page.navigate")) << log();
        settle(20);  // the bring-up's replies reach the plugin
    }

    std::size_t navigationsAt(double seconds)
    {
        while (host->elapsedTime() < seconds) host->runFrames(60);
        settle(10);
        return received("Page.navigate").size();
    }
};

TEST_F(SettingsFileTest, NamesMatchWithoutCaseAndAnEmptyWebUrlStaysEmpty)
{
    startWithBrowser("[general]\nZOOMLEVEL = 1.25\nweburl =\n");
    EXPECT_DOUBLE_EQ(received("Emulation.setDeviceMetricsOverride").front()["deviceScaleFactor"].get<double>(), 1.25);
    EXPECT_EQ(received("Page.navigate").front()["url"], "");
}

TEST_F(SettingsFileTest, AFractionalReloadPeriodIsCutToWholeSeconds)
{
    startWithBrowser("[General]\nrefreshWebPageSecs = 30.9\n");
    ASSERT_LT(host->elapsedTime(), 30.0);
    EXPECT_EQ(navigationsAt(30.4), 2u);
    EXPECT_EQ(navigationsAt(60.5), 3u);
}

TEST_F(SettingsFileTest, AReloadPeriodThatIsNotANumberMeansNever)
{
    startWithBrowser("[General]\nrefreshWebPageSecs = abc\n");
    EXPECT_EQ(navigationsAt(130.0), 1u);
}

TEST_F(SettingsFileTest, AHeldZoomCommandStepsOnceAndOtherSectionsSurviveTheWrite)
{
    makeHost(defaultOptions());
    const int threadsBefore = threadCount();
    const int childrenBefore = childProcessCount();
    host.reset();
    startWithBrowser("; my notes\n[Other]\nkeep = me\n\n[General]\nrefreshWebPageSecs = 0\nmine = 42\n");
    const std::size_t before = viewports();
    run("hold Corvane/DecreaseWebZoom 3");
    for (int i = 0; i < 400 && viewports() == before; ++i) settle(1);
    settle(20);
    const auto sent = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_NEAR(sent.back()["deviceScaleFactor"].get<double>(), 0.45, 1e-6);

    run("quit");
    EXPECT_EQ(log().find("xpsim: leak:"), std::string::npos) << log();
    EXPECT_EQ(threadCount(), threadsBefore);
    EXPECT_EQ(childProcessCount(), childrenBefore);
    const std::string text = settingsText();
    for (const char* kept : {"[Other]", "keep = me", "mine = 42", "BrowserPath = ", "zoomLevel = 0.450000"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
}

}  // namespace
