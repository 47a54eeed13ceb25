#include "panel/mouse_input.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "browser/browser.h"
#include "panel/panel_window.h"
#include "panel/pointer_tracker.h"
#include "pipeline/frame.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

bool onPage(std::int64_t pageX, std::int64_t pageY) {
    return pageX >= 0 && pageX < pageWidth.load() && pageY >= 0 && pageY < pageHeight.load();
}

// Truncation toward zero, pinned to int so a point far off the window cannot overflow.
int truncateToInt(float value) {
    if (!(value > -2147483520.0f)) return INT32_MIN;  // also catches NaN
    if (value >= 2147483520.0f) return INT32_MAX;
    return static_cast<int>(value);
}

// A window point as its distances right of and down from the window's top-left corner, with
// the window's width and height; 64 bits, so no window far off the desktop overflows them.
struct WindowOffset {
    std::int64_t intoX, downY, width, height;
};

WindowOffset offsetIn(XPLMWindowID window, int x, int y) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    return {std::int64_t{x} - left, std::int64_t{top} - y, std::int64_t{right} - left, std::int64_t{top} - bottom};
}

PointerTracker pointer;

void send(const PointerEvent& event) { sendBrowserPointer(event.what, event.at.x, event.at.y); }

// The page point under (x, y) by the click mapping, clamped onto the page, so a drag beyond the
// panel's edge holds at the edge; empty for a window or page without area.
std::optional<PagePoint> pointerOnPage(XPLMWindowID window, int x, int y) {
    const int w = pageWidth.load(), h = pageHeight.load();
    if (w <= 0 || h <= 0) return std::nullopt;
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    if (right <= left || top <= bottom) return std::nullopt;
    PagePoint p;
    if (XPLMWindowIsInVR(window) != 0) {
        // Writes the page point for a window with area, on the page or off it.
        mapWindowPointToPage(x, y, p.x, p.y);
    } else if (!mapDesktopPointToPage(window, std::clamp(x, left, right), std::clamp(y, bottom, top), p.x, p.y)) {
        return std::nullopt;
    }
    return PagePoint{std::clamp(p.x, 0, w - 1), std::clamp(p.y, 0, h - 1)};
}

bool fullInput() { return panelInput == PanelInput::Full; }

}  // namespace

bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY) {
    const auto [intoX, downY, width, height] = offsetIn(panelWindow, x, y);
    if (width == 0 || height == 0) return false;

    // Single precision, quotient first, then the product.
    const float fractionX = static_cast<float>(intoX) / static_cast<float>(width);
    pageX = truncateToInt(fractionX * static_cast<float>(pageWidth.load()));
    // 1 - fraction turns the simulator's upward axis into the page's downward one.
    const float fractionY = static_cast<float>(height - downY) / static_cast<float>(height);
    pageY = truncateToInt((1.0f - fractionY) * static_cast<float>(pageHeight.load()));
    // A point on the right or bottom edge lands one pixel past the page; it is on the window,
    // so it is clamped onto the page as on the desktop rather than passed through the panel.
    const bool onWindow = intoX >= 0 && intoX <= width && downY >= 0 && downY <= height;
    if (onWindow && pageWidth.load() > 0 && pageHeight.load() > 0) {
        pageX = std::min(pageX, pageWidth.load() - 1);
        pageY = std::min(pageY, pageHeight.load() - 1);
    }
    return onPage(pageX, pageY);
}

bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY) {
    // The image is stretched over the whole window, so the click is scaled the same way:
    // whatever the window's size, it lands on the page element drawn under the pointer.
    const auto [intoX, downY, width, height] = offsetIn(window, x, y);
    if (width <= 0 || height <= 0 || intoX < 0 || intoX > width || downY < 0 || downY > height) return false;
    // Exact integer arithmetic (each factor is below 2^32, so the product fits). The right
    // and bottom edges land one pixel past the page and are clamped onto it.
    const std::int64_t w = pageWidth.load(), h = pageHeight.load();
    if (w <= 0 || h <= 0) return false;
    pageX = static_cast<int>(std::min(intoX * w / width, w - 1));
    pageY = static_cast<int>(std::min(downY * h / height, h - 1));
    return true;
}

bool mapPanelPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY) {
    return XPLMWindowIsInVR(window) != 0 ? mapWindowPointToPage(x, y, pageX, pageY)
                                         : mapDesktopPointToPage(window, x, y, pageX, pageY);
}

PointerOutcome sendPanelPointer(XPLMWindowID window, int x, int y, XPLMMouseStatus mouse) {
    if (mouse == xplm_MouseDown) {
        if (fullInput()) pointer.press(x, y, pointerOnPage(window, x, y));
        return PointerOutcome::Taken;
    }
    if (mouse == xplm_MouseDrag) {
        if (!fullInput()) return PointerOutcome::Taken;
        if (const auto page = pointerOnPage(window, x, y)) {
            if (const auto press = pointer.drag(x, y, *page)) send(*press);
        }
        return PointerOutcome::Taken;
    }
    if (mouse != xplm_MouseUp) return PointerOutcome::Taken;
    if (fullInput()) {
        const auto release = pointer.release(pointerOnPage(window, x, y));
        for (const PointerEvent& event : release) send(event);
        if (!release.empty()) return PointerOutcome::Released;
    }

    int pageX = 0, pageY = 0;
    if (!mapPanelPointToPage(window, x, y, pageX, pageY)) {
        debugLog("CV: Bounds invalid.\n");
        return PointerOutcome::OffPanel;
    }
    sendBrowserClick(pageX, pageY);
    if (!fullInput()) return PointerOutcome::Taken;
    pointer.clicked({pageX, pageY});
    return PointerOutcome::Released;
}

void hoverPanelPointer(XPLMWindowID window, int x, int y) {
    if (!fullInput()) return;
    if (const auto page = pointerOnPage(window, x, y)) pointer.hover(*page);
}

void sendPointerFrame() {
    if (const auto event = pointer.frame()) send(*event);
}

void stopPointerInput() {
    for (const PointerEvent& event : pointer.stop()) send(event);
}
