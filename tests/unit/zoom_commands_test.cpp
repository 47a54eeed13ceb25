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

// Zoom values are compared bit for bit: the steps are defined down to the float rounding.
::testing::AssertionResult sameFloat(float expected, float actual)
{
    if (std::bit_cast<std::uint32_t>(expected) == std::bit_cast<std::uint32_t>(actual))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << "expected " << expected << ", got " << actual;
}

// The stored values after the documented numbers of steps from 0.5, exactly; in decimal they
// read 0.7500001 (five increases), 2.0499992 (31), 0.44999999 (one decrease), 0.09999996 (8).
constexpr float afterFiveIncreases = 0x1.800002p-1f;
constexpr float afterThirtyOneIncreases = 0x1.06666p+1f;
constexpr float afterOneDecrease = 0x1.ccccccp-2f;
constexpr float afterEightDecreases = 0x1.99999p-4f;

class ZoomTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        settingsIni.Reset();
        zoomLevel = 0.5f;
    }
};

TEST_F(ZoomTest, IncreasesFromTheDefaultRoundAsFloatsAndStopOneStepPastTwo)
{
    for (int i = 0; i < 5; ++i) increaseWebZoom();
    EXPECT_TRUE(sameFloat(afterFiveIncreases, zoomLevel));
    for (int i = 5; i < 31; ++i) increaseWebZoom();
    EXPECT_TRUE(sameFloat(afterThirtyOneIncreases, zoomLevel));
    increaseWebZoom();
    EXPECT_TRUE(sameFloat(afterThirtyOneIncreases, zoomLevel));
}

TEST_F(ZoomTest, DecreasesFromTheDefaultStopOneStepBelowATenth)
{
    decreaseWebZoom();
    EXPECT_TRUE(sameFloat(afterOneDecrease, zoomLevel));
    for (int i = 1; i < 8; ++i) decreaseWebZoom();
    EXPECT_TRUE(sameFloat(afterEightDecreases, zoomLevel));
    decreaseWebZoom();
    EXPECT_TRUE(sameFloat(afterEightDecreases, zoomLevel));
}

TEST_F(ZoomTest, ValuesOutsideTheLimitsOnlyMoveBackTowardsThem)
{
    zoomLevel = 3.0f;
    increaseWebZoom();
    EXPECT_TRUE(sameFloat(3.0f, zoomLevel));
    decreaseWebZoom();
    EXPECT_TRUE(sameFloat(static_cast<float>(3.0 - 0.05), zoomLevel));

    zoomLevel = 0.0f;
    decreaseWebZoom();
    EXPECT_TRUE(sameFloat(0.0f, zoomLevel));
    increaseWebZoom();
    EXPECT_TRUE(sameFloat(0.05f, zoomLevel));
}

TEST_F(ZoomTest, StepsBeforeTheBrowserIsReadyLeaveTheSettingsDocumentAlone)
{
    increaseWebZoom();
    decreaseWebZoom();
    EXPECT_EQ(settingsIni.GetValue("General", "zoomLevel", nullptr), nullptr);
}

TEST_F(ZoomTest, StoredZoomIsSixDecimalText)
{
    zoomLevel = 0.5f;
    zoomLevel = static_cast<float>(static_cast<double>(zoomLevel) + 0.05);
    storeZoomLevel();
    EXPECT_STREQ(settingsIni.GetValue("General", "zoomLevel", ""), "0.550000");
    zoomLevel = 1.25f;
    storeZoomLevel();
    EXPECT_STREQ(settingsIni.GetValue("General", "zoomLevel", ""), "1.250000");
}

TEST_F(ZoomTest, OneWheelEventMakesAtMostOneStepOnEitherAxis)
{
    const float start = zoomLevel;
    EXPECT_EQ(handlePanelWheel(nullptr, 10, 10, 0, 3, nullptr), 1);
    const float afterUp = zoomLevel;
    zoomLevel = start;
    increaseWebZoom();
    EXPECT_TRUE(sameFloat(zoomLevel, afterUp));

    zoomLevel = start;
    EXPECT_EQ(handlePanelWheel(nullptr, 10, 10, 0, -2, nullptr), 1);
    EXPECT_TRUE(sameFloat(afterOneDecrease, zoomLevel));

    zoomLevel = start;
    EXPECT_EQ(handlePanelWheel(nullptr, 10, 10, 1, 1, nullptr), 1);  // horizontal wheel
    EXPECT_TRUE(sameFloat(afterUp, zoomLevel));

    zoomLevel = start;
    EXPECT_EQ(handlePanelWheel(nullptr, 10, 10, 0, 0, nullptr), 1);
    EXPECT_TRUE(sameFloat(start, zoomLevel));
}

class CommandTest : public ZoomTest {
protected:
    void SetUp() override
    {
        ZoomTest::SetUp();
        if (toggleCommand == nullptr) createCommands();
        vrEnabledRef = nullptr;
        createPanelWindow();
        ASSERT_NE(panelWindow, nullptr);
    }
    void TearDown() override { destroyPanelWindow(); }
};

TEST_F(CommandTest, CommandsActOnReleaseOnly)
{
    for (XPLMCommandPhase phase : {xplm_CommandBegin, xplm_CommandContinue, xplm_CommandContinue}) {
        EXPECT_EQ(handleCommand(increaseZoomCommand, phase, nullptr), 1);
        EXPECT_EQ(handleCommand(toggleCommand, phase, nullptr), 1);
    }
    EXPECT_TRUE(sameFloat(0.5f, zoomLevel));
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);

    EXPECT_EQ(handleCommand(increaseZoomCommand, xplm_CommandEnd, nullptr), 1);
    EXPECT_TRUE(sameFloat(0.55f, zoomLevel));
    EXPECT_EQ(handleCommand(decreaseZoomCommand, xplm_CommandEnd, nullptr), 1);
    EXPECT_EQ(handleCommand(decreaseZoomCommand, xplm_CommandEnd, nullptr), 1);
    EXPECT_TRUE(sameFloat(0.45f, zoomLevel));
}

TEST_F(CommandTest, ToggleCommandAndMenuItemShowAndHideThePanel)
{
    handleCommand(toggleCommand, xplm_CommandEnd, nullptr);
    EXPECT_NE(XPLMGetWindowIsVisible(panelWindow), 0);
    handleCommand(toggleCommand, xplm_CommandEnd, nullptr);
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);

    // The item reference is compared by its text, not its address.
    std::string itemRef = "cmd_vr";
    handleMenu(nullptr, itemRef.data());
    EXPECT_NE(XPLMGetWindowIsVisible(panelWindow), 0);
    handleMenu(nullptr, itemRef.data());
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);

    std::string otherRef = "cmd_vr2";
    handleMenu(nullptr, otherRef.data());
    handleMenu(nullptr, nullptr);
    EXPECT_EQ(XPLMGetWindowIsVisible(panelWindow), 0);
}

TEST_F(CommandTest, WithoutAPanelToggleDoesNothing)
{
    destroyPanelWindow();
    newLogText();
    togglePanel();
    handleMenu(nullptr, const_cast<char*>("cmd_vr"));
    // No call reached the host with a stale or null window.
    EXPECT_EQ(newLogText(), "");
}

}  // namespace
