// Clicks on the panel mapped to page pixels, on the desktop and in VR.
#include <gtest/gtest.h>

#include "panel/mouse_input.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "test_host.h"

namespace {

class ClickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        pageWidth = 768;
        pageHeight = 512;
        newLogText();
    }
    void TearDown() override
    {
        for (XPLMWindowID w : windows) XPLMDestroyWindow(w);
        panelWindow = nullptr;
        pageWidth = 768;
        pageHeight = 512;
    }

    XPLMWindowID makeWindow(int left, int top, int right, int bottom)
    {
        XPLMCreateWindow_t params{};
        params.structSize = sizeof params;
        params.left = left;
        params.top = top;
        params.right = right;
        params.bottom = bottom;
        params.visible = 1;
        params.handleMouseClickFunc = handlePanelMouseClick;
        params.decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle;
        params.layer = xplm_WindowLayerFloatingWindows;
        XPLMWindowID w = XPLMCreateWindowEx(&params);
        windows.push_back(w);
        return w;
    }

    std::vector<XPLMWindowID> windows;
};

TEST_F(ClickTest, DesktopMappingIsOneBoxelPerPixelFromTheTopLeft)
{
    XPLMWindowID w = makeWindow(100, 900, 868, 388);
    int x = -1, y = -1;
    ASSERT_TRUE(mapDesktopPointToPage(w, 100, 900, x, y));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    ASSERT_TRUE(mapDesktopPointToPage(w, 867, 389, x, y));
    EXPECT_EQ(x, 767);
    EXPECT_EQ(y, 511);
    EXPECT_FALSE(mapDesktopPointToPage(w, 868, 500, x, y));
    EXPECT_FALSE(mapDesktopPointToPage(w, 99, 500, x, y));
    EXPECT_FALSE(mapDesktopPointToPage(w, 500, 388, x, y));
}

TEST_F(ClickTest, ReleaseOutsideThePageIsRejectedAndLogged)
{
    XPLMWindowID w = makeWindow(100, 900, 868, 388);
    EXPECT_EQ(handlePanelMouseClick(w, 868, 500, xplm_MouseUp, nullptr), 0);
    EXPECT_EQ(newLogText(), "CV: Bounds invalid.\n");
    // Inside the page with no browser yet: consumed, nothing to send, nothing logged.
    EXPECT_EQ(handlePanelMouseClick(w, 500, 500, xplm_MouseUp, nullptr), 1);
    EXPECT_EQ(newLogText(), "");
}

TEST_F(ClickTest, AWindowLargerThanThePageAcceptsOnlyThePagePart)
{
    XPLMWindowID w = makeWindow(100, 900, 1100, 300);
    int x = -1, y = -1;
    EXPECT_TRUE(mapDesktopPointToPage(w, 867, 389, x, y));
    EXPECT_FALSE(mapDesktopPointToPage(w, 900, 500, x, y));
    EXPECT_FALSE(mapDesktopPointToPage(w, 500, 350, x, y));
}

TEST_F(ClickTest, LargerDecodedPageWidensTheDesktopRange)
{
    XPLMWindowID w = makeWindow(100, 900, 868, 388);
    pageWidth = 1152;
    pageHeight = 768;
    int x = -1, y = -1;
    ASSERT_TRUE(mapDesktopPointToPage(w, 1100, 200, x, y));
    EXPECT_EQ(x, 1000);
    EXPECT_EQ(y, 700);
}

TEST_F(ClickTest, ScaledMappingCoversTheWholePage)
{
    panelWindow = makeWindow(0, 512, 768, 0);
    int x = -1, y = -1;
    ASSERT_TRUE(mapWindowPointToPage(384, 256, x, y));
    EXPECT_EQ(x, 384);
    EXPECT_EQ(y, 256);
    ASSERT_TRUE(mapWindowPointToPage(0, 512, x, y));  // top edge is page row 0
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_FALSE(mapWindowPointToPage(10, 0, x, y));  // bottom edge is one row past the page
    EXPECT_EQ(y, 512);
    EXPECT_FALSE(mapWindowPointToPage(768, 10, x, y));  // right edge is one column past it
    EXPECT_EQ(x, 768);

    pageWidth = 1152;
    pageHeight = 768;
    ASSERT_TRUE(mapWindowPointToPage(384, 256, x, y));
    EXPECT_EQ(x, 576);
    EXPECT_EQ(y, 384);
}

TEST_F(ClickTest, ScaledMappingStretchesANarrowWindow)
{
    panelWindow = makeWindow(0, 512, 384, 0);
    int x = -1, y = -1;
    ASSERT_TRUE(mapWindowPointToPage(100, 300, x, y));
    EXPECT_EQ(x, 200);
}

TEST_F(ClickTest, ScaledMappingRejectsAWindowWithoutArea)
{
    panelWindow = makeWindow(50, 512, 50, 0);
    int x = -7, y = -7;
    EXPECT_FALSE(mapWindowPointToPage(50, 100, x, y));
    EXPECT_EQ(x, -7);
    EXPECT_EQ(y, -7);
}

TEST_F(ClickTest, PointsFarOffTheWindowAreRejectedWithoutOverflow)
{
    panelWindow = makeWindow(0, 512, 1, 0);
    int x = 0, y = 0;
    EXPECT_FALSE(mapWindowPointToPage(2000000000, 256, x, y));
    EXPECT_FALSE(mapWindowPointToPage(-2000000000, 256, x, y));
    XPLMWindowID w = makeWindow(100, 900, 868, 388);
    EXPECT_FALSE(mapDesktopPointToPage(w, -2147483647 - 1, 2147483647, x, y));
}

TEST_F(ClickTest, InVrTheReleaseUsesTheScaledMapping)
{
    hostRun("vr on");
    panelWindow = makeWindow(100, 900, 868, 388);
    XPLMSetWindowPositioningMode(panelWindow, xplm_WindowVR, -1);
    ASSERT_NE(XPLMWindowIsInVR(panelWindow), 0);
    int l = 0, t = 0, r = 0, b = 0;
    XPLMGetWindowGeometry(panelWindow, &l, &t, &r, &b);
    ASSERT_EQ(r - l, 768);
    ASSERT_EQ(t - b, 512);
    // A page half the window's size: the scaled mapping still lands on it, one boxel per
    // pixel would not.
    pageWidth = 384;
    pageHeight = 256;
    newLogText();
    EXPECT_EQ(handlePanelMouseClick(panelWindow, l + 700, b + 100, xplm_MouseUp, nullptr), 1);
    EXPECT_EQ(newLogText(), "");
    EXPECT_EQ(handlePanelMouseClick(panelWindow, r, b + 100, xplm_MouseUp, nullptr), 0);
    EXPECT_EQ(newLogText(), "CV: Bounds invalid.\n");
    hostRun("vr off");
}

TEST_F(ClickTest, PressRaisesTheWindowAndDragIsIgnored)
{
    XPLMWindowID back = makeWindow(100, 900, 868, 388);
    XPLMWindowID front = makeWindow(200, 800, 400, 600);
    ASSERT_EQ(XPLMIsWindowInFront(back), 0);
    EXPECT_EQ(handlePanelMouseClick(back, 150, 850, xplm_MouseDown, nullptr), 1);
    EXPECT_NE(XPLMIsWindowInFront(back), 0);
    EXPECT_EQ(handlePanelMouseClick(back, 150, 850, xplm_MouseDown, nullptr), 1);
    EXPECT_NE(XPLMIsWindowInFront(back), 0);
    EXPECT_EQ(XPLMIsWindowInFront(front), 0);
    EXPECT_EQ(handlePanelMouseClick(back, 5000, 5000, xplm_MouseDrag, nullptr), 1);
    EXPECT_EQ(newLogText(), "");
}

}  // namespace
