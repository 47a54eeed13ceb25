#include "panel/mouse_input.h"

#include <algorithm>
#include <cstdint>

#include "browser/browser.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "plugin/log.h"

namespace {

bool onPage(std::int64_t pageX, std::int64_t pageY)
{
    return pageX >= 0 && pageX < pageWidth.load() && pageY >= 0 && pageY < pageHeight.load();
}

// Truncation toward zero, pinned to int so a point far off the window cannot overflow.
int truncateToInt(float value)
{
    if (!(value > -2147483520.0f)) return INT32_MIN;  // also catches NaN
    if (value >= 2147483520.0f) return INT32_MAX;
    return static_cast<int>(value);
}

}  // namespace

bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(panelWindow, &left, &top, &right, &bottom);
    if (left == right || top == bottom) return false;

    // Single precision, quotient first, then the product.
    const float fractionX = static_cast<float>(static_cast<std::int64_t>(x) - left) /
                            static_cast<float>(static_cast<std::int64_t>(right) - left);
    pageX = truncateToInt(fractionX * static_cast<float>(pageWidth.load()));
    // 1 - fraction turns the simulator's upward axis into the page's downward one.
    const float fractionY = static_cast<float>(static_cast<std::int64_t>(y) - bottom) /
                            static_cast<float>(static_cast<std::int64_t>(top) - bottom);
    pageY = truncateToInt((1.0f - fractionY) * static_cast<float>(pageHeight.load()));
    // A point on the right or bottom edge lands one pixel past the page; it is on the window,
    // so it is clamped onto the page as on the desktop rather than passed through the panel.
    const std::int64_t intoX = static_cast<std::int64_t>(x) - left, downY = static_cast<std::int64_t>(top) - y;
    const bool onWindow = intoX >= 0 && intoX <= static_cast<std::int64_t>(right) - left && downY >= 0 &&
                          downY <= static_cast<std::int64_t>(top) - bottom;
    if (onWindow && pageWidth.load() > 0 && pageHeight.load() > 0) {
        pageX = std::min(pageX, pageWidth.load() - 1);
        pageY = std::min(pageY, pageHeight.load() - 1);
    }
    return onPage(pageX, pageY);
}

bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY)
{
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    // The image is stretched over the whole window, so the click is scaled the same way:
    // whatever the window's size, it lands on the page element drawn under the pointer.
    const std::int64_t width = static_cast<std::int64_t>(right) - left;
    const std::int64_t height = static_cast<std::int64_t>(top) - bottom;
    const std::int64_t intoX = static_cast<std::int64_t>(x) - left;
    const std::int64_t downY = static_cast<std::int64_t>(top) - y;
    if (width <= 0 || height <= 0 || intoX < 0 || intoX > width || downY < 0 || downY > height) return false;
    // Exact integer arithmetic (each factor is below 2^32, so the product fits). The right
    // and bottom edges land one pixel past the page and are clamped onto it.
    const std::int64_t w = pageWidth.load(), h = pageHeight.load();
    if (w <= 0 || h <= 0) return false;
    pageX = static_cast<int>(std::min(intoX * w / width, w - 1));
    pageY = static_cast<int>(std::min(downY * h / height, h - 1));
    return true;
}

int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void*)
{
    try {
        if (inMouse == xplm_MouseDown) {
            if (XPLMIsWindowInFront(inWindowID) == 0) XPLMBringWindowToFront(inWindowID);
            return 1;
        }
        if (inMouse != xplm_MouseUp) return 1;

        int pageX = 0, pageY = 0;
        const bool valid = XPLMWindowIsInVR(inWindowID) != 0 ? mapWindowPointToPage(x, y, pageX, pageY)
                                                             : mapDesktopPointToPage(inWindowID, x, y, pageX, pageY);
        if (!valid) {
            debugLog("CV: Bounds invalid.\n");
            return 0;
        }
        sendBrowserClick(pageX, pageY);
        return 1;
    } catch (...) {
        XPLMDebugString("CV: mouse click handler failed\n");
        return 1;
    }
}
