// Clicks on the panel mapped to page pixels, on the desktop and in VR.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "panel/mouse_input.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "test_host.h"

namespace {

using Page = std::pair<int, int>;

class ClickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
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
        params.layer = xplm_WindowLayerFloatingWindows;
        windows.push_back(XPLMCreateWindowEx(&params));
        return windows.back();
    }
    Page desktop(XPLMWindowID w, int x, int y)
    {
        Page p{-1, -1};
        return mapDesktopPointToPage(w, x, y, p.first, p.second) ? p : Page{-1, -1};
    }
    Page scaled(int x, int y)
    {
        Page p{-1, -1};
        valid = mapWindowPointToPage(x, y, p.first, p.second);
        return p;
    }

    std::vector<XPLMWindowID> windows;
    bool valid = false;
};

TEST_F(ClickTest, OnTheDesktopOneBoxelIsOnePagePixelFromTheTopLeft)
{
    XPLMWindowID w = makeWindow(100, 900, 868, 388);
    EXPECT_EQ(desktop(w, 100, 900), Page(0, 0));
    EXPECT_EQ(desktop(w, 867, 389), Page(767, 511));
    EXPECT_EQ(desktop(w, 868, 500), Page(-1, -1));
    EXPECT_EQ(desktop(w, 500, 388), Page(-1, -1));
    EXPECT_EQ(desktop(w, -2147483647 - 1, 2147483647), Page(-1, -1));

    EXPECT_EQ(handlePanelMouseClick(w, 868, 500, xplm_MouseUp, nullptr), 0);
    EXPECT_EQ(newLogText(), "CV: Bounds invalid.\n");
    // On the page but no browser yet: consumed, nothing sent, nothing logged.
    EXPECT_EQ(handlePanelMouseClick(w, 500, 500, xplm_MouseUp, nullptr), 1);
    EXPECT_EQ(newLogText(), "");

    // A window larger than the page: only the page's part maps.
    XPLMWindowID big = makeWindow(100, 900, 1100, 300);
    EXPECT_EQ(desktop(big, 900, 500), Page(-1, -1));
    // A larger decoded page widens the range.
    pageWidth = 1152;
    pageHeight = 768;
    EXPECT_EQ(desktop(big, 1100, 200), Page(1000, 700));

}

TEST_F(ClickTest, TheScaledMappingCoversTheWholePage)
{
    panelWindow = makeWindow(0, 512, 768, 0);
    EXPECT_EQ(scaled(384, 256), Page(384, 256));
    EXPECT_EQ(scaled(0, 512), Page(0, 0));
    EXPECT_TRUE(valid);
    EXPECT_EQ(scaled(10, 0).second, 512);  // the bottom edge is one row past the page
    EXPECT_FALSE(valid);
    EXPECT_EQ(scaled(768, 10).first, 768);
    EXPECT_FALSE(valid);
    scaled(2000000000, 256);
    EXPECT_FALSE(valid);
    pageWidth = 1152;
    pageHeight = 768;
    EXPECT_EQ(scaled(384, 256), Page(576, 384));

    panelWindow = makeWindow(0, 512, 384, 0);
    pageWidth = 768;
    EXPECT_EQ(scaled(100, 300).first, 200);

    // No area: invalid, outputs untouched.
    panelWindow = makeWindow(50, 512, 50, 0);
    EXPECT_EQ(scaled(50, 100), Page(-1, -1));
    EXPECT_FALSE(valid);
}

TEST_F(ClickTest, InVrTheReleaseUsesTheScaledMapping)
{
    hostRun("vr on");
    panelWindow = makeWindow(100, 900, 868, 388);
    XPLMSetWindowPositioningMode(panelWindow, xplm_WindowVR, -1);
    int l = 0, t = 0, r = 0, b = 0;
    XPLMGetWindowGeometry(panelWindow, &l, &t, &r, &b);
    // A page half the window's size: the scaled mapping lands on it, one boxel per pixel
    // would not.
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
    EXPECT_EQ(XPLMIsWindowInFront(front), 0);
    EXPECT_EQ(handlePanelMouseClick(back, 5000, 5000, xplm_MouseDrag, nullptr), 1);
    EXPECT_EQ(newLogText(), "");
}

}  // namespace
