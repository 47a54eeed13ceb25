#include "panel/panel_place.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "panel/panel_input.h"
#include "panel/panel_window.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr char insideMode[] = "inside";
constexpr char popOutMode[] = "popout";

// A rectangle with its edges in order: x0 < x1 and y0 < y1 whichever way y runs.
struct Box {
    long x0, y0, x1, y1;
    long width() const { return x1 - x0; }
    long height() const { return y1 - y0; }
};

Box boxOf(const PlaceRect& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right), std::max(r.top, r.bottom)};
}

long overlap(const Box& a, const Box& b) {
    const long w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
    const long h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
    return w > 0 && h > 0 ? w * h : 0;
}

bool contains(const Box& outer, const Box& inner) {
    return inner.x0 >= outer.x0 && inner.x1 <= outer.x1 && inner.y0 >= outer.y0 && inner.y1 <= outer.y1;
}

// Where the panel is, as the settings keep it.
struct Place {
    bool poppedOut = false;
    std::optional<PlaceRect> inside;  // boxels, floating in the simulator's window
    std::optional<PlaceRect> popOut;  // the desktop's pixels, in a window of its own
    bool operator==(const Place&) const = default;
};

// The place at start (restored, or where the window was made), and as it is now.
Place placeAtStart;
Place place;
// The last stop left the panel popped out: it pops out again when first shown.
bool popOutWhenShown = false;
bool poppedOut = false;

std::optional<int> storedInt(const char* key) {
    const char* text = storedSetting(key);
    if (text == nullptr) return std::nullopt;
    while (*text == ' ') ++text;
    const char* end = text + std::strlen(text);
    int value = 0;
    const auto [rest, error] = std::from_chars(text, end, value);
    if (error != std::errc() || rest == text) return std::nullopt;
    for (const char* c = rest; c != end; ++c)
        if (*c != ' ') return std::nullopt;
    return value;
}

std::optional<PlaceRect> storedRect(const char* left, const char* top, const char* right, const char* bottom) {
    const auto l = storedInt(left), t = storedInt(top), r = storedInt(right), b = storedInt(bottom);
    if (!l || !t || !r || !b || *r <= *l || *t == *b) return std::nullopt;
    return PlaceRect{*l, *t, *r, *b};
}

void storeRect(const PlaceRect& r, const char* left, const char* top, const char* right, const char* bottom) {
    storeSetting(left, r.left);
    storeSetting(top, r.top);
    storeSetting(right, r.right);
    storeSetting(bottom, r.bottom);
}

// The simulator's window: where a floating panel can be.
std::vector<PlaceRect> simulatorScreens() {
    PlaceRect screen;
    XPLMGetScreenBoundsGlobal(&screen.left, &screen.top, &screen.right, &screen.bottom);
    return {screen};
}

// The monitors of the desktop, main first: where a window of its own can be.
std::vector<PlaceRect> desktopMonitors() {
    std::vector<PlaceRect> monitors;
    XPLMGetAllMonitorBoundsOS(
        [](int index, int left, int top, int right, int bottom, void* refcon) {
            auto& found = *static_cast<std::vector<PlaceRect>*>(refcon);
            const PlaceRect monitor{left, top, right, bottom};
            // X-Plane names the main monitor 0.
            if (index == 0)
                found.insert(found.begin(), monitor);
            else
                found.push_back(monitor);
        },
        &monitors);
    return monitors;
}

PlaceRect insideRect() {
    PlaceRect r;
    XPLMGetWindowGeometry(panelWindow, &r.left, &r.top, &r.right, &r.bottom);
    return r;
}

PlaceRect popOutRect() {
    PlaceRect r;
    XPLMGetWindowGeometryOS(panelWindow, &r.left, &r.top, &r.right, &r.bottom);
    return r;
}

void placeInside(const PlaceRect& r) {
    const PlaceRect fitted = fitOnScreens(r, simulatorScreens());
    XPLMSetWindowGeometry(panelWindow, fitted.left, fitted.top, fitted.right, fitted.bottom);
}

void popOut() {
    place.inside = insideRect();
    XPLMSetWindowPositioningMode(panelWindow, xplm_WindowPopOut, -1);
    if (XPLMWindowIsPoppedOut(panelWindow) == 0) {
        XPLMDebugString("CV: the simulator did not pop the panel out; it stays in the simulator's window.\n");
        return;
    }
    poppedOut = true;
    // Where the pilot had its window last; the simulator's own choice the first time.
    if (place.popOut) {
        const PlaceRect fitted = fitOnScreens(*place.popOut, desktopMonitors());
        XPLMSetWindowGeometryOS(panelWindow, fitted.left, fitted.top, fitted.right, fitted.bottom);
    }
}

void popIn() {
    place.popOut = popOutRect();
    poppedOut = false;
    XPLMSetWindowPositioningMode(panelWindow, xplm_WindowPositionFree, -1);
    XPLMSetWindowGravity(panelWindow, 0.0f, 1.0f, 0.0f, 1.0f);
    if (place.inside) placeInside(*place.inside);
}

bool inVr() {
    return (vrEnabledRef != nullptr && XPLMGetDatai(vrEnabledRef) != 0) || XPLMWindowIsInVR(panelWindow) != 0;
}

}  // namespace

PlaceRect fitOnScreens(const PlaceRect& rect, const std::vector<PlaceRect>& screens) {
    if (screens.empty()) return rect;
    const Box box = boxOf(rect);
    const Box* best = nullptr;
    long bestOverlap = 0;
    std::vector<Box> boxes;
    boxes.reserve(screens.size());
    for (const PlaceRect& screen : screens) boxes.push_back(boxOf(screen));
    for (const Box& screen : boxes) {
        if (contains(screen, box)) return rect;
        const long shared = overlap(screen, box);
        if (shared > bestOverlap) {
            bestOverlap = shared;
            best = &screen;
        }
    }
    const Box& screen = best != nullptr ? *best : boxes.front();
    const long width = std::min(box.width(), screen.width());
    const long height = std::min(box.height(), screen.height());
    const long x0 = std::clamp(box.x0, screen.x0, screen.x1 - width);
    const long y0 = std::clamp(box.y0, screen.y0, screen.y1 - height);
    const auto x1 = static_cast<int>(x0 + width), y1 = static_cast<int>(y0 + height);
    const bool yUp = rect.top >= rect.bottom;
    return {static_cast<int>(x0), yUp ? y1 : static_cast<int>(y0), x1, yUp ? static_cast<int>(y0) : y1};
}

void restorePanelPlace() {
    poppedOut = false;
    place = Place{};
    place.inside = storedRect(panelLeftKey, panelTopKey, panelRightKey, panelBottomKey);
    place.popOut = storedRect(popOutLeftKey, popOutTopKey, popOutRightKey, popOutBottomKey);
    const char* mode = storedSetting(panelModeKey);
    place.poppedOut = mode != nullptr && std::strcmp(mode, popOutMode) == 0;
    if (mode != nullptr && !place.poppedOut && std::strcmp(mode, insideMode) != 0)
        debugLog("CV: PanelMode \"%s\" is neither inside nor popout; the panel opens inside.\n", mode);
    if (panelWindow == nullptr || inVr()) {
        placeAtStart = place;
        return;
    }
    if (place.inside) placeInside(*place.inside);
    // Where it opens now, fitted or by default, counts as unchanged: a pilot who never moves the
    // panel gets no new lines in the file.
    place.inside = insideRect();
    placeAtStart = place;
    popOutWhenShown = place.poppedOut;
}

void keepPanelPlace() {
    if (panelWindow == nullptr) return;
    // A panel in VR keeps the desktop place it had.
    if (!inVr()) {
        place.poppedOut = poppedOut || popOutWhenShown;
        if (poppedOut)
            place.popOut = popOutRect();
        else
            place.inside = insideRect();
    }
    if (place == placeAtStart) return;
    storeSetting(panelModeKey, place.poppedOut ? popOutMode : insideMode);
    if (place.inside) storeRect(*place.inside, panelLeftKey, panelTopKey, panelRightKey, panelBottomKey);
    if (place.popOut) storeRect(*place.popOut, popOutLeftKey, popOutTopKey, popOutRightKey, popOutBottomKey);
}

void togglePopOut() {
    if (panelWindow == nullptr) return;
    if (inVr()) {
        XPLMDebugString("CV: the panel cannot be popped out in VR.\n");
        return;
    }
    popOutWhenShown = false;
    // The pointer's place and what it held do not carry over to the other window.
    stopPanelInput();
    if (poppedOut) return popIn();
    popOut();
    if (XPLMGetWindowIsVisible(panelWindow) == 0) {
        XPLMSetWindowIsVisible(panelWindow, 1);
        resumePanelInput();
    }
}

void panelShown() {
    if (!popOutWhenShown || panelWindow == nullptr || inVr()) return;
    popOutWhenShown = false;
    popOut();
}

void panelEntersVr() {
    // The simulator moves the window into VR from wherever it was; out of VR it floats again.
    if (poppedOut) place.popOut = popOutRect();
    poppedOut = false;
}

bool panelPoppedOut() { return poppedOut; }

void resetPanelPlace() {
    place = placeAtStart = Place{};
    popOutWhenShown = poppedOut = false;
}
