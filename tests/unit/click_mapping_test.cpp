// Clicks on the panel mapped to page pixels, on the desktop and in VR.
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <string>
#include <utility>

#include "panel/mouse_input.h"
#include "panel/page_scale.h"
#include "panel/panel_input.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "pipeline/live_frames.h"
#include "test_host.h"

namespace {

using Page = std::pair<int, int>;

class ClickTest : public ::testing::Test {
protected:
    void SetUp() override {
        testHost();
        makePanelLikeWindow(100, 980, 868, 468);
        newLogText();
    }
    void TearDown() override {
        destroyPanelWindow();
        pageWidth = 768;
        pageHeight = 512;
    }
    static Page desktop(int x, int y) {
        Page p{-1, -1};
        return mapDesktopPointToPage(panelWindow, x, y, p.first, p.second) ? p : Page{-1, -1};
    }
};

// The page is rendered at about the panel's width in pixels over its layout's, in quarter steps
// from 1 to 3; a window's boxels are the user-interface scale's pixels each, and nothing
// unreadable the simulator publishes as that scale counts.
TEST_F(ClickTest, ThePageScaleFollowsThePanelsWidthInPixelsInQuarterStepsFrom1To3) {
    EXPECT_EQ(pageScaleFor(768), 1.0);
    EXPECT_EQ(pageScaleFor(1000), 1.25);
    EXPECT_EQ(pageScaleFor(500), 1.0);
    EXPECT_EQ(pageScaleFor(9000), 3.0);
    EXPECT_EQ(pageScaleFor(768 * pixelsPerBoxel(1.5f)), 1.5);
    for (float unreadable :
         {0.0f, -2.0f, 100.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        EXPECT_EQ(pixelsPerBoxel(unreadable), 1.0) << unreadable;

    // The host's desktop is one pixel a boxel: the window's width decides.
    uiScaleRef = XPLMFindDataRef("sim/graphics/misc/user_interface_scale");
    ASSERT_NE(uiScaleRef, nullptr);
    EXPECT_EQ(wantedPageScale(), 1.0);
    makePanelLikeWindow(100, 1060, 1636, 36);
    EXPECT_EQ(wantedPageScale(), 2.0);
}

TEST_F(ClickTest, OnTheDesktopTheWindowIsScaledOntoThePageAsTheImageIsDrawn) {
    // At the page's own size a boxel is a page pixel; the far edges are clamped onto the page.
    EXPECT_EQ(desktop(100, 980), Page(0, 0));
    EXPECT_EQ(desktop(867, 469), Page(767, 511));
    EXPECT_EQ(desktop(868, 468), Page(767, 511));
    EXPECT_EQ(desktop(869, 500), Page(-1, -1));
    EXPECT_EQ(desktop(99, 981), Page(-1, -1));
    EXPECT_EQ(desktop(INT_MIN, INT_MAX), Page(-1, -1));

    EXPECT_EQ(handlePanelMouseClick(panelWindow, 869, 500, xplm_MouseUp, nullptr), 0);
    EXPECT_EQ(newLogText(), "CV: Bounds invalid.\n");
    // On the page but no browser yet: consumed, nothing sent, nothing logged.
    EXPECT_EQ(handlePanelMouseClick(panelWindow, 500, 500, xplm_MouseUp, nullptr), 1);
    EXPECT_EQ(newLogText(), "");

    // A window resized to 1.5 times the page: the pixel drawn under the pointer, not the
    // pixel one boxel per pixel from the corner would give.
    makePanelLikeWindow(100, 980, 1252, 212);
    EXPECT_EQ(desktop(100 + 300, 980 - 150), Page(200, 100));
    EXPECT_EQ(desktop(1251, 213), Page(767, 511));
    // A larger snapshot with the window at the page's old size; a window with no area.
    pageWidth = 1152;
    pageHeight = 768;
    makePanelLikeWindow(100, 980, 868, 468);
    EXPECT_EQ(desktop(100 + 400, 980 - 200), Page(600, 300));
    pageWidth = 768;
    pageHeight = 512;
    makePanelLikeWindow(100, 980, 100, 468);
    EXPECT_EQ(desktop(100, 700), Page(-1, -1));

    // The scaled mapping, as VR uses it: the window is stretched over the page.
    makePanelLikeWindow(0, 512, 384, 0);
    Page p{-1, -1};
    EXPECT_TRUE(mapWindowPointToPage(100, 300, p.first, p.second));
    EXPECT_EQ(p, Page(200, 212));
    // The right and bottom edges are clamped onto the page, as on the desktop.
    EXPECT_TRUE(mapWindowPointToPage(384, 0, p.first, p.second));
    EXPECT_EQ(p, Page(767, 511));
    EXPECT_FALSE(mapWindowPointToPage(385, 0, p.first, p.second));
    EXPECT_FALSE(mapWindowPointToPage(384, -1, p.first, p.second));
    EXPECT_TRUE(mapWindowPointToPage(100, 300, p.first, p.second));
    makePanelLikeWindow(50, 512, 50, 0);  // no area: nothing maps
    EXPECT_FALSE(mapWindowPointToPage(50, 100, p.first, p.second));
    EXPECT_EQ(p, Page(200, 212));  // outputs untouched
}

TEST_F(ClickTest, InVrTheReleaseUsesTheScaledMapping) {
    std::string error;
    ASSERT_TRUE(testHost().run("vr on", error)) << error;
    XPLMSetWindowPositioningMode(panelWindow, xplm_WindowVR, -1);
    int l = 0, t = 0, r = 0, b = 0;
    XPLMGetWindowGeometry(panelWindow, &l, &t, &r, &b);
    // A page half the window's size: the scaled mapping lands on it, one boxel per pixel
    // would not. A release on the right or bottom edge is on the panel; beyond it, not.
    pageWidth = 384;
    pageHeight = 256;
    newLogText();
    for (auto [x, y] : {Page(l + 700, b + 100), Page(r, b + 100), Page(l + 100, b)}) {
        EXPECT_EQ(handlePanelMouseClick(panelWindow, x, y, xplm_MouseUp, nullptr), 1);
        EXPECT_EQ(newLogText(), "");
    }
    for (auto [x, y] : {Page(r + 1, b + 100), Page(2000000000, b + 100)}) {
        EXPECT_EQ(handlePanelMouseClick(panelWindow, x, y, xplm_MouseUp, nullptr), 0);
        EXPECT_EQ(newLogText(), "CV: Bounds invalid.\n");
    }
    testHost().run("vr off", error);
}

}  // namespace
