// The zoom steps and the wheel.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "panel/panel_input.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

// Zoom values are compared bit for bit. After the given steps from 0.5 they read, in decimal,
// 0.7500001 (5 up), 2.0499992 (31 up), 0.44999999 (1 down) and 0.09999996 (8 down).
constexpr float fiveUp = 0x1.800002p-1f, thirtyOneUp = 0x1.06666p+1f, oneDown = 0x1.ccccccp-2f,
                eightDown = 0x1.99999p-4f;

#define EXPECT_ZOOM(expected) EXPECT_EQ(std::bit_cast<std::uint32_t>(expected), std::bit_cast<std::uint32_t>(zoomLevel))

TEST(Zoom, StepsRoundAsFloatsAndStopOneStepPastEachLimitAndTheWheelStepsOnce) {
    testHost();
    settingsIni.Reset();
    zoomLevel = 0.5f;
    increaseWebZoom();
    // No browser yet: the step is recorded for the file all the same.
    EXPECT_STREQ(settingsIni.GetValue("General", "zoomLevel", ""), "0.550000");
    for (int i = 0; i < 4; ++i) increaseWebZoom();
    EXPECT_ZOOM(fiveUp);
    for (int i = 0; i < 26; ++i) increaseWebZoom();
    EXPECT_ZOOM(thirtyOneUp);
    increaseWebZoom();
    EXPECT_ZOOM(thirtyOneUp);

    zoomLevel = 0.5f;
    decreaseWebZoom();
    EXPECT_ZOOM(oneDown);
    for (int i = 0; i < 8; ++i) decreaseWebZoom();
    EXPECT_ZOOM(eightDown);

    zoomLevel = 3.0f;
    increaseWebZoom();
    EXPECT_ZOOM(3.0f);
    decreaseWebZoom();
    EXPECT_ZOOM(2.95f);

    // One wheel event makes at most one step, on either axis.
    zoomLevel = 0.5f;
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, 3, nullptr), 1);
    EXPECT_ZOOM(0.55f);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 1, 2, nullptr), 1);  // horizontal
    EXPECT_ZOOM(0.6f);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, -2, nullptr), 1);
    EXPECT_EQ(handlePanelWheel(nullptr, 1, 1, 0, 0, nullptr), 1);
    EXPECT_ZOOM(0.55f);
}

}  // namespace
