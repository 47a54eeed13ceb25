// The scale the page is rendered at, so that its picture has about as many pixels as the panel
// shows it on: text stays sharp in an enlarged window instead of being stretched.
#include "panel/page_scale.h"

#include <algorithm>
#include <cmath>

#include "panel/panel_place.h"
#include "panel/panel_window.h"
#include "pipeline/live_frames.h"

XPLMDataRef uiScaleRef = nullptr;

namespace {

constexpr double layoutWidth = 768.0;   // the page's layout width in page pixels
constexpr double vrScale = 2.0;         // a headset's view is close: a fixed, sharper picture
constexpr double largestUiScale = 8.0;  // 200 % on a display of four times the usual density

}  // namespace

double pixelsPerBoxel(float publishedScale) {
    const double scale = publishedScale;
    return std::isfinite(scale) && scale > 0.0 && scale <= largestUiScale ? scale : 1.0;
}

double pageScaleFor(double panelPixelWidth) {
    if (!(panelPixelWidth > 0.0)) return 1.0;
    const double steps = std::round(panelPixelWidth / layoutWidth * 4.0) / 4.0;
    return std::clamp(steps, 1.0, 3.0);
}

double wantedPageScale() {
    if (panelWindow == nullptr) return 1.0;
    if (vrEnabledRef != nullptr && XPLMGetDatai(vrEnabledRef) != 0) return vrScale;
    int left = 0, top = 0, right = 0, bottom = 0;
    // A window of its own is measured in the desktop's pixels already.
    if (panelPoppedOut()) {
        XPLMGetWindowGeometryOS(panelWindow, &left, &top, &right, &bottom);
        return pageScaleFor(static_cast<double>(right - left));
    }
    XPLMGetWindowGeometry(panelWindow, &left, &top, &right, &bottom);
    const double perBoxel = uiScaleRef != nullptr ? pixelsPerBoxel(XPLMGetDataf(uiScaleRef)) : 1.0;
    return pageScaleFor(static_cast<double>(right - left) * perBoxel);
}
