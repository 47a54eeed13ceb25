// Commands, menu, wheel and the zoom steps.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include "panel/panel_window.h"
#include "plugin/commands.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

// Zoom values are compared bit for bit. After the given steps from 0.5 they read, in decimal,
// 0.7500001 (5 up), 2.0499992 (31 up), 0.44999999 (1 down) and 0.09999996 (8 down).
constexpr float fiveUp = 0x1.800002p-1f, thirtyOneUp = 0x1.06666p+1f, oneDown = 0x1.ccccccp-2f,
                eightDown = 0x1.99999p-4f;

#define EXPECT_ZOOM(expected) EXPECT_EQ(std::bit_cast<std::uint32_t>(expected), std::bit_cast<std::uint32_t>(zoomLevel))

void steps(int n, void (*step)())
{
    for (int i = 0; i < n; ++i) step();
}

class ZoomTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        settingsIni.Reset();
        zoomLevel = 0.5f;
    }
};

TEST_F(ZoomTest, StepsRoundAsFloatsAndStopOneStepPastEachLimit)
{
    steps(5, increaseWebZoom);
    EXPECT_ZOOM(fiveUp);
    steps(26, increaseWebZoom);
    EXPECT_ZOOM(thirtyOneUp);
    increaseWebZoom();
    EXPECT_ZOOM(thirtyOneUp);

    zoomLevel = 0.5f;
    decreaseWebZoom();
    EXPECT_ZOOM(oneDown);
    steps(8, decreaseWebZoom);
    EXPECT_ZOOM(eightDown);

    zoomLevel = 3.0f;
    increaseWebZoom();
    EXPECT_ZOOM(3.0f);
    decreaseWebZoom();
    EXPECT_ZOOM(2.95f);
    zoomLevel = 0.0f;
    decreaseWebZoom();
    EXPECT_ZOOM(0.0f);
    increaseWebZoom();
    EXPECT_ZOOM(0.05f);
    // No browser controller yet: nothing is recorded for the file.
    EXPECT_EQ(settingsIni.GetValue("General", "zoomLevel", nullptr), nullptr);
}

TEST_F(ZoomTest, RecordedZoomIsSixDecimalText)
{
    increaseWebZoom();
    storeZoomLevel();
    EXPECT_STREQ(settingsIni.GetValue("General", "zoomLevel", ""), "0.550000");
}

TEST_F(ZoomTest, OneWheelEventMakesAtMostOneStepOnEitherAxis)
{
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, 3, nullptr), 1);
    EXPECT_ZOOM(0.55f);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 1, 2, nullptr), 1);  // horizontal
    EXPECT_ZOOM(0.6f);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, -2, nullptr), 1);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, 0, nullptr), 1);
    EXPECT_ZOOM(0.55f);
}

TEST_F(ZoomTest, CommandsActOnReleaseAndToggleWithTheMenuItem)
{
    if (toggleCommand == nullptr) createCommands();
    vrEnabledRef = nullptr;
    createPanelWindow();
    ASSERT_NE(panelWindow, nullptr);

    for (XPLMCommandPhase phase : {xplm_CommandBegin, xplm_CommandContinue}) {
        EXPECT_EQ(handleCommand(increaseZoomCommand, phase, nullptr), 1);
        EXPECT_EQ(handleCommand(toggleCommand, phase, nullptr), 1);
    }
    EXPECT_ZOOM(0.5f);
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);
    handleCommand(decreaseZoomCommand, xplm_CommandEnd, nullptr);
    EXPECT_ZOOM(oneDown);
    handleCommand(toggleCommand, xplm_CommandEnd, nullptr);
    EXPECT_NE(XPLMGetWindowIsVisible(panelWindow), 0);

    // The item reference is compared by its text, not its address.
    std::string item = "cmd_vr", other = "cmd_vr2";
    handleMenu(nullptr, item.data());
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);
    handleMenu(nullptr, other.data());
    handleMenu(nullptr, nullptr);
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);

    // Without a panel the toggle reaches no window at all.
    destroyPanelWindow();
    newLogText();
    handleMenu(nullptr, item.data());
    EXPECT_EQ(newLogText(), "");
}

}  // namespace
