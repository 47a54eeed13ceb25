// Fitting a remembered window rectangle onto the screens there are now, and the colour scheme
// that follows the simulator's sun.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/chromium/chromium_state.h"
#include "panel/panel_place.h"
#include "plugin/color_scheme.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

TEST(PanelPlace, ARectangleOffEveryScreenOrTooLargeIsMovedAndShrunkOntoOneAndOneOnAScreenStays) {
    // Boxels, y up: a 1920 x 1080 desktop.
    const std::vector<PlaceRect> desktop{{0, 1080, 1920, 0}};
    const PlaceRect onIt{100, 900, 868, 388};
    EXPECT_EQ(fitOnScreens(onIt, desktop), onIt);
    // Beyond the right and top edges: moved in, its size kept.
    EXPECT_EQ(fitOnScreens({1500, 1300, 2268, 788}, desktop), (PlaceRect{1152, 1080, 1920, 568}));
    // Wholly off (a monitor gone): onto the main screen, the nearest place there.
    EXPECT_EQ(fitOnScreens({-3000, 500, -2232, -12}, desktop), (PlaceRect{0, 512, 768, 0}));
    // Larger than the screen: shrunk to it.
    EXPECT_EQ(fitOnScreens({-10, 1500, 2500, -200}, desktop), (PlaceRect{0, 1080, 1920, 0}));
    EXPECT_EQ(fitOnScreens(onIt, {}), onIt);

    // The desktop's pixels as a system with y down gives them, two monitors side by side: a
    // window mostly on the second stays there, pulled in over its edge.
    const std::vector<PlaceRect> monitors{{0, 0, 1920, 1080}, {1920, 0, 4480, 1440}};
    EXPECT_EQ(fitOnScreens({4000, 100, 4768, 612}, monitors), (PlaceRect{3712, 100, 4480, 612}));
    // Straddling both, more on the first: onto the first.
    EXPECT_EQ(fitOnScreens({1500, 100, 2268, 612}, monitors), (PlaceRect{1152, 100, 1920, 612}));
    // The second monitor unplugged: onto the main one.
    EXPECT_EQ(fitOnScreens({2500, 900, 3268, 1412}, {monitors[0]}), (PlaceRect{1152, 568, 1920, 1080}));
}

TEST(ColorScheme, AutoIsDarkWhileTheSunIsDownLookingAtItOnceAMinuteAndLightOrDarkAreAsSet) {
    std::string error;
    auto sun = [&](const char* degrees) { ASSERT_TRUE(testHost().run(std::string("sun ") + degrees, error)) << error; };
    panelColorScheme = PanelColorScheme::Auto;
    resetColorScheme();
    sun("-10");
    runColorScheme(100.0);
    EXPECT_TRUE(lastDarkScheme);
    // Sunrise is seen at the next look, a minute after the last.
    sun("5");
    runColorScheme(159.0);
    EXPECT_TRUE(lastDarkScheme);
    runColorScheme(160.0);
    EXPECT_FALSE(lastDarkScheme);

    panelColorScheme = PanelColorScheme::Dark;
    runColorScheme(161.0);
    EXPECT_TRUE(lastDarkScheme);
    panelColorScheme = PanelColorScheme::Light;
    runColorScheme(162.0);
    EXPECT_FALSE(lastDarkScheme);
}

}  // namespace
