// Windows: geometry, positioning modes, VR, front order per layer, pointer and keyboard
// routing (capture from press to release, events passed down by a 0 result), and drawing
// them each frame.
#include "host_state.h"

#include "desktop_renderer.h"
#include "png_writer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace xpsim {
namespace {

// The callback slots of XPLMCreateWindow_t, for the check that none is null.
struct CallbackSlot {
    const char* name;
    std::size_t offset;
};
constexpr CallbackSlot kCallbackSlots[] = {
    {"drawWindowFunc", offsetof(XPLMCreateWindow_t, drawWindowFunc)},
    {"handleMouseClickFunc", offsetof(XPLMCreateWindow_t, handleMouseClickFunc)},
    {"handleKeyFunc", offsetof(XPLMCreateWindow_t, handleKeyFunc)},
    {"handleCursorFunc", offsetof(XPLMCreateWindow_t, handleCursorFunc)},
    {"handleMouseWheelFunc", offsetof(XPLMCreateWindow_t, handleMouseWheelFunc)},
    {"handleRightClickFunc", offsetof(XPLMCreateWindow_t, handleRightClickFunc)},
};

}  // namespace

XPLMWindowID HostState::createWindow(const XPLMCreateWindow_t* params) {
    if (params == nullptr || params->structSize <= 0) {
        hostLine("XPLMCreateWindowEx without parameters returns null");
        return nullptr;
    }
    auto record = std::make_unique<WindowRecord>();
    // Older callers pass a shorter record; fields past its end keep their defaults.
    record->params.layer = xplm_WindowLayerFloatingWindows;
    const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(params->structSize), sizeof *params);
    std::memcpy(&record->params, params, size);
    // X-Plane calls every slot it has without checking; the window is made all the same, so
    // the events that would crash the simulator can be shown to go nowhere here.
    for (const CallbackSlot& slot : kCallbackSlots) {
        if (slot.offset + sizeof(void*) > size) continue;
        void* callback = nullptr;
        std::memcpy(&callback, reinterpret_cast<const char*>(params) + slot.offset, sizeof callback);
        if (callback == nullptr) {
            hostLine(std::string("error: XPLMCreateWindowEx with a null ") + slot.name +
                     "; X-Plane requires a function in every callback slot");
        }
    }
    record->params.structSize = static_cast<int>(sizeof *params);
    record->owner = currentPlugin_;
    record->left = params->left;
    record->top = params->top;
    record->right = params->right;
    record->bottom = params->bottom;
    record->visible = params->visible != 0;
    record->decoration = record->params.decorateAsFloatingWindow;
    record->layer = record->params.layer;
    if (record->layer < 0 || record->layer >= kLayerCount) {
        hostLine("XPLMCreateWindowEx with layer " + std::to_string(record->layer) +
                 " puts the window in the floating-windows layer");
        record->layer = xplm_WindowLayerFloatingWindows;
    }
    record->creationOrder = ++windowSerial_;
    XPLMWindowID id = record.get();
    zOrder_[static_cast<std::size_t>(record->layer)].push_back(id);  // new windows open in front
    windows_.emplace(id, std::move(record));
    return id;
}

WindowRecord* HostState::window(XPLMWindowID id, const char* caller) {
    auto it = windows_.find(id);
    if (it == windows_.end()) {
        hostLine(std::string(caller) + " with an unknown window ignored");
        return nullptr;
    }
    return it->second.get();
}

void HostState::destroyWindow(XPLMWindowID id) {
    if (window(id, "XPLMDestroyWindow") == nullptr) return;
    for (auto& layer : zOrder_) layer.erase(std::remove(layer.begin(), layer.end(), id), layer.end());
    if (captured_ == id) captured_ = nullptr;
    if (focused_ == id) focused_ = nullptr;
    if (pointerWindow_ == id) pointerWindow_ = nullptr;
    windows_.erase(id);
}

WindowRecord* HostState::liveWindow(XPLMWindowID id) {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second.get();
}

bool HostState::windowInVr(const WindowRecord& w) const {
    // As the header says: in VR if and only if its positioning mode is VR, headset on or not.
    return w.positioningMode == xplm_WindowVR;
}

bool HostState::onScreen(const WindowRecord& w) const {
    // With the headset on only VR windows are seen; with it off, a VR window has nowhere to be.
    return w.visible && ownerEnabled(w.owner) && windowInVr(w) == vr_;
}

void HostState::windowGeometry(const WindowRecord& w, int& l, int& t, int& r, int& b) const {
    if (w.poppedOut()) {
        // Its own window: its size in boxels, origin at the bottom left.
        l = 0;
        b = 0;
        r = static_cast<int>(std::lround((w.osRight - w.osLeft) / options_.uiScale));
        t = static_cast<int>(std::lround((w.osTop - w.osBottom) / options_.uiScale));
        return;
    }
    if (windowInVr(w)) {
        // In VR a window has its own space: its size, origin at the bottom left.
        l = 0;
        t = w.top - w.bottom;
        r = w.right - w.left;
        b = 0;
        return;
    }
    l = w.left;
    t = w.top;
    r = w.right;
    b = w.bottom;
}

void HostState::screenBounds(int& l, int& t, int& r, int& b) const {
    l = options_.screenLeft;
    t = options_.screenTop;
    r = options_.screenRight;
    b = options_.screenBottom;
}

void HostState::setPositioningMode(WindowRecord& w, int mode, int monitor) {
    if (mode < xplm_WindowPositionFree || mode > xplm_WindowVR) {
        hostLine("XPLMSetWindowPositioningMode with unknown mode " + std::to_string(mode) + " ignored");
        return;
    }
    if (mode == xplm_WindowPopOut && !w.poppedOut()) {
        // Popped out where it floated: its rectangle, in pixels, on the main monitor.
        const double scale = options_.uiScale;
        w.osLeft = desktopPixels(w.left - options_.screenLeft, scale);
        w.osBottom = desktopPixels(w.bottom - options_.screenBottom, scale);
        w.osRight = w.osLeft + desktopPixels(w.right - w.left, scale);
        w.osTop = w.osBottom + desktopPixels(w.top - w.bottom, scale);
    }
    if (mode != xplm_WindowPopOut && pointerWindow_ == &w) pointerWindow_ = nullptr;
    w.positioningMode = mode;
    w.monitor = monitor;
    // One monitor: the whole desktop. Free, pop-out and VR keep the desktop rectangle, so
    // leaving VR puts the window back where it was.
    const int width = w.right - w.left, height = w.top - w.bottom;
    if (mode == xplm_WindowCenterOnMonitor) {
        w.left = options_.screenLeft + (options_.screenRight - options_.screenLeft - width) / 2;
        w.right = w.left + width;
        w.top = options_.screenTop - (options_.screenTop - options_.screenBottom - height) / 2;
        w.bottom = w.top - height;
    } else if (mode == xplm_WindowFullScreenOnMonitor || mode == xplm_WindowFullScreenOnAllMonitors) {
        screenBounds(w.left, w.top, w.right, w.bottom);
    }
}

void HostState::setWindowGeometry(WindowRecord& w, int l, int t, int r, int b) {
    // As X-Plane: the rectangle of a window floating in the simulator's window. A popped-out
    // or VR window keeps it for when it floats again.
    w.left = l;
    w.top = t;
    w.right = r;
    w.bottom = b;
}

bool HostState::osGeometry(const WindowRecord& w, int& l, int& t, int& r, int& b, const char* caller) {
    if (!w.poppedOut()) {
        hostLine(std::string(caller) + " on a window that is not popped out ignored");
        return false;
    }
    l = w.osLeft;
    t = w.osTop;
    r = w.osRight;
    b = w.osBottom;
    return true;
}

bool HostState::setOsGeometry(WindowRecord& w, int l, int t, int r, int b, const char* caller) {
    if (!w.poppedOut()) {
        hostLine(std::string(caller) + " on a window that is not popped out ignored");
        return false;
    }
    if (r <= l || t <= b) {
        hostLine(std::string(caller) + " with an empty rectangle ignored");
        return false;
    }
    w.osLeft = l;
    w.osTop = t;
    w.osRight = r;
    w.osBottom = b;
    return true;
}

void HostState::monitorBoundsOs(int& l, int& t, int& r, int& b) const {
    l = 0;
    b = 0;
    r = desktopPixels(options_.screenRight - options_.screenLeft, options_.uiScale);
    t = desktopPixels(options_.screenTop - options_.screenBottom, options_.uiScale);
}

std::vector<WindowRecord*> HostState::frontOrder(int layer) const {
    std::vector<WindowRecord*> result;
    for (XPLMWindowID id : zOrder_[static_cast<std::size_t>(layer)]) {
        auto it = windows_.find(id);
        if (it != windows_.end()) result.push_back(it->second.get());
    }
    return result;
}

bool HostState::windowInFront(const WindowRecord& w) const {
    if (!onScreen(w)) return false;
    const auto order = frontOrder(w.layer);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (onScreen(**it)) return *it == &w;
    }
    return false;
}

void HostState::bringToFront(WindowRecord& w) {
    auto& layer = zOrder_[static_cast<std::size_t>(w.layer)];
    layer.erase(std::remove(layer.begin(), layer.end(), static_cast<XPLMWindowID>(&w)), layer.end());
    layer.push_back(&w);
}

WindowRecord* HostState::panelWindow() {
    if (module_ == nullptr) return nullptr;
    WindowRecord* first = nullptr;
    for (auto& [id, w] : windows_) {
        if (w->owner == plugin_.id && (first == nullptr || w->creationOrder < first->creationOrder)) first = w.get();
    }
    return first;
}

std::vector<XPLMWindowID> HostState::windowsUnder(int x, int y) const {
    // With the headset on, the pointer is the VR controller: it aims at the VR windows, front
    // to back, each in its own space. Otherwise the desktop windows that contain the point.
    std::vector<XPLMWindowID> under;
    // In a popped-out window the pointer reaches that window alone, in its own space.
    if (pointerWindow_ != nullptr) {
        auto it = windows_.find(pointerWindow_);
        if (it == windows_.end() || !onScreen(*it->second) || !it->second->poppedOut()) return under;
        int l = 0, t = 0, r = 0, b = 0;
        windowGeometry(*it->second, l, t, r, b);
        if (l <= x && x < r && b < y && y <= t) under.push_back(pointerWindow_);
        return under;
    }
    for (int layer = kLayerCount - 1; layer >= 0; --layer) {
        const auto order = frontOrder(layer);
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const WindowRecord& w = **it;
            if (!onScreen(w) || w.poppedOut()) continue;
            if (vr_ || (w.left <= x && x < w.right && w.bottom < y && y <= w.top)) under.push_back(*it);
        }
    }
    return under;
}

void HostState::moveKeyboardFocus(XPLMWindowID to) {
    WindowRecord* from = focused_ == to ? nullptr : liveWindow(focused_);
    focused_ = to;
    if (from == nullptr || from->params.handleKeyFunc == nullptr || !ownerEnabled(from->owner)) return;
    // The window losing the focus hears of it, with the window that takes it.
    XPLMHandleKey_f keyFunc = from->params.handleKeyFunc;
    void* refcon = from->params.refcon;
    intoModule(from->owner, "a key callback", [&] { keyFunc(to, 0, 0, 0, refcon, 1); });
}

void HostState::pointer(int x, int y, XPLMMouseStatus status) {
    const std::string where = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    pointerOn_ = true;
    pointerX_ = x;
    pointerY_ = y;
    if (status == xplm_MouseDown) {
        captured_ = nullptr;
        pressTakenBySimulator_ = false;
        // A press never gives a window the keys; one anywhere but on the window holding them
        // takes them back for the simulator, and that window hears of it.
        XPLMWindowID takenBy = nullptr;
        const auto under = windowsUnder(x, y);
        if (under.empty()) hostLine("press" + where + " hits no window");
        // Front to back until a window takes the press (returns 1); it then gets the drag and
        // the release.
        for (XPLMWindowID id : under) {
            WindowRecord* target = liveWindow(id);
            if (target == nullptr || !onScreen(*target)) continue;
            XPLMHandleMouseClick_f click = target->params.handleMouseClickFunc;
            if (click == nullptr) {
                hostLine("window \"" + target->title + "\" has no click callback");
                return;
            }
            const XPLMPluginID owner = target->owner;
            void* refcon = target->params.refcon;
            const int taken =
                intoModule(owner, "a mouse click callback", [&] { return click(id, x, y, status, refcon); });
            if (taken == 0) continue;
            if (liveWindow(id) != nullptr) captured_ = id;  // it may have destroyed itself meanwhile
            takenBy = id;
            break;
        }
        if (!under.empty() && takenBy == nullptr) {
            pressTakenBySimulator_ = true;
            hostLine("press" + where + " passed on by every window; the simulator takes it");
        }
        if (focused_ != nullptr && focused_ != takenBy) moveKeyboardFocus(nullptr);
        return;
    }
    // Drag and release go to the window that took the press, wherever the pointer is.
    const char* what = status == xplm_MouseDrag ? "drag" : "release";
    WindowRecord* target = liveWindow(captured_);
    if (target == nullptr) {
        if (!pressTakenBySimulator_) hostLine(what + where + " without a press ignored");
        if (status == xplm_MouseUp) pressTakenBySimulator_ = false;
        captured_ = nullptr;
        return;
    }
    const XPLMWindowID id = captured_;
    if (status == xplm_MouseUp) captured_ = nullptr;
    if (!ownerEnabled(target->owner)) return;  // its plugin was disabled since the press
    XPLMHandleMouseClick_f click = target->params.handleMouseClickFunc;
    void* refcon = target->params.refcon;
    intoModule(target->owner, "a mouse click callback", [&] { return click(id, x, y, status, refcon); });
}

void HostState::rightClick(int x, int y) {
    const std::string where = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    const auto under = windowsUnder(x, y);
    if (under.empty()) {
        hostLine("right press" + where + " hits no window");
        return;
    }
    for (XPLMWindowID id : under) {
        WindowRecord* target = liveWindow(id);
        if (target == nullptr || !onScreen(*target)) continue;
        XPLMHandleMouseClick_f click = target->params.handleRightClickFunc;
        if (click == nullptr) {
            hostLine("window \"" + target->title + "\" has no right-click callback");
            return;
        }
        const XPLMPluginID owner = target->owner;
        void* refcon = target->params.refcon;
        const int taken =
            intoModule(owner, "a right-click callback", [&] { return click(id, x, y, xplm_MouseDown, refcon); });
        if (taken == 0) continue;
        if (liveWindow(id) != nullptr && ownerEnabled(owner)) {
            intoModule(owner, "a right-click callback", [&] { return click(id, x, y, xplm_MouseUp, refcon); });
        }
        return;
    }
    hostLine("right press" + where + " passed on by every window; the simulator takes it");
}

void HostState::wheel(int x, int y, int clicks, int axis) {
    const std::string where = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    const auto under = windowsUnder(x, y);
    if (under.empty()) {
        hostLine("wheel" + where + " hits no window");
        return;
    }
    for (XPLMWindowID id : under) {
        WindowRecord* target = liveWindow(id);
        if (target == nullptr || !onScreen(*target)) continue;
        XPLMHandleMouseWheel_f wheelFunc = target->params.handleMouseWheelFunc;
        if (wheelFunc == nullptr) {
            hostLine("window \"" + target->title + "\" has no mouse wheel callback");
            return;
        }
        void* refcon = target->params.refcon;
        const int taken = intoModule(target->owner, "a mouse wheel callback",
                                     [&] { return wheelFunc(id, x, y, axis, clicks, refcon); });
        if (taken != 0) return;
    }
    hostLine("wheel" + where + " passed on by every window; the simulator takes it");
}

void HostState::askCursor(int x, int y) {
    // Front to back until a window asks for a cursor of its own; xplm_CursorDefault leaves
    // the choice to the windows below, then to the simulator.
    lastCursor_ = xplm_CursorDefault;
    for (XPLMWindowID id : windowsUnder(x, y)) {
        WindowRecord* target = liveWindow(id);
        if (target == nullptr || !onScreen(*target)) continue;
        XPLMHandleCursor_f cursorFunc = target->params.handleCursorFunc;
        if (cursorFunc == nullptr) {
            hostLine("window \"" + target->title + "\" has no cursor callback");
            return;
        }
        void* refcon = target->params.refcon;
        const int status = intoModule(target->owner, "a cursor callback", [&] { return cursorFunc(id, x, y, refcon); });
        if (status == xplm_CursorDefault) continue;
        lastCursor_ = status;
        return;
    }
}

void HostState::hover(int x, int y) {
    pointerOn_ = true;
    pointerX_ = x;
    pointerY_ = y;
    askCursor(x, y);
}

void HostState::hoverOff() { pointerOn_ = false; }

void HostState::takeKeyboardFocus(XPLMWindowID id) {
    if (id != nullptr && window(id, "XPLMTakeKeyboardFocus") == nullptr) return;
    moveKeyboardFocus(id);
}

bool HostState::hasKeyboardFocus(XPLMWindowID id) const { return focused_ == id; }

bool HostState::sendKey(const KeyStroke& stroke, int flags) {
    WindowRecord* target = liveWindow(focused_);
    if (target == nullptr || !ownerEnabled(target->owner)) return false;
    XPLMHandleKey_f keyFunc = target->params.handleKeyFunc;
    if (keyFunc == nullptr) {
        hostLine("window \"" + target->title + "\" has no key callback");
        return true;
    }
    const XPLMWindowID id = focused_;
    void* refcon = target->params.refcon;
    const char virtualKey = static_cast<char>(stroke.virtualKey);
    intoModule(target->owner, "a key callback",
               [&] { keyFunc(id, stroke.character, flags | stroke.modifiers, virtualKey, refcon, 0); });
    return true;
}

void HostState::key(const KeyStroke& stroke) {
    if (!sendKey(stroke, xplm_DownFlag)) {
        hostLine("key " + stroke.label + " goes to the simulator: no window has the keyboard focus");
        return;
    }
    // The key comes up wherever the focus is now: the down may have moved it.
    sendKey(stroke, xplm_UpFlag);
}

void HostState::typeText(const std::vector<KeyStroke>& strokes) {
    std::size_t lost = 0;
    for (const KeyStroke& stroke : strokes) {
        if (!sendKey(stroke, xplm_DownFlag)) {
            ++lost;
            continue;
        }
        sendKey(stroke, xplm_UpFlag);
    }
    if (lost > 0) {
        hostLine("type: " + std::to_string(lost) + " of " + std::to_string(strokes.size()) +
                 " keys go to the simulator: no window has the keyboard focus");
    }
}

void HostState::holdKey(const KeyStroke& stroke, double seconds) {
    // As the operating system repeats a held key: after half a second, 25 times a second.
    constexpr double repeatDelay = 0.5, repeatInterval = 0.04;
    if (!sendKey(stroke, xplm_DownFlag)) {
        hostLine("key " + stroke.label + " goes to the simulator: no window has the keyboard focus");
    }
    const double start = elapsedTime();
    double nextRepeat = start + repeatDelay;
    const long long frames = std::llround(seconds * options_.fps);
    for (long long i = 0; i < frames && !hostInterruptRequested(); ++i) {
        runFrames(1);
        for (; elapsedTime() + 1e-9 >= nextRepeat; nextRepeat += repeatInterval) sendKey(stroke, 0);
    }
    sendKey(stroke, xplm_UpFlag);
}

void HostState::closeBox(WindowRecord& w) {
    // The window is hidden as if the plugin had hidden it: XPLMGetWindowIsVisible says 0.
    w.visible = false;
}

void HostState::drawWindows() {
    if (renderer_ == nullptr) return;  // no context: draw callbacks are never called without one
    // Ids first: a callback may destroy windows (its own included) or create new ones.
    std::vector<XPLMWindowID> ids;
    for (int layer = 0; layer < kLayerCount; ++layer) {
        for (XPLMWindowID id : zOrder_[static_cast<std::size_t>(layer)]) ids.push_back(id);
    }
    for (auto& [id, w] : windows_) w->drawn = false;
    // The callback may destroy its own window: what is needed afterwards is taken first.
    auto drawOne = [this](XPLMWindowID id, WindowRecord& w) {
        XPLMDrawWindow_f draw = w.params.drawWindowFunc;
        if (draw == nullptr) return;
        w.drawn = true;
        void* refcon = w.params.refcon;
        const XPLMPluginID owner = w.owner;
        const std::string where = "the draw callback of window \"" + w.title + "\"";
        prepareDrawCallbackGl();
        renderer_->takeGlError();
        intoModule(owner, "a draw callback", [&] { draw(id, refcon); });
        reportGlError(owner, where);
    };
    // With the headset on, the VR windows, each into its own offscreen target; with it off,
    // the desktop windows. The other kind is neither drawn nor reachable.
    if (vr_) {
        for (XPLMWindowID id : ids) {
            WindowRecord* w = liveWindow(id);
            if (w == nullptr || !onScreen(*w)) continue;
            const int width = std::max(1, w->right - w->left), height = std::max(1, w->top - w->bottom);
            renderer_->beginVr(width, height, width, height);
            popoutDrawn_ = false;
            drawOne(id, *w);
            renderer_->endVr();
        }
    }
    // Popped-out windows, each into the offscreen target of its own pixels, read back by
    // screenshot-popout.
    if (!vr_) {
        for (XPLMWindowID id : ids) {
            WindowRecord* w = liveWindow(id);
            if (w == nullptr || !onScreen(*w) || !w->poppedOut()) continue;
            int l = 0, t = 0, r = 0, b = 0;
            windowGeometry(*w, l, t, r, b);
            renderer_->beginVr(std::max(1, r), std::max(1, t), std::max(1, w->osRight - w->osLeft),
                               std::max(1, w->osTop - w->osBottom));
            popoutDrawn_ = true;
            drawOne(id, *w);
            renderer_->endVr();
        }
    }
    renderer_->beginDesktop();
    if (!vr_) {
        for (XPLMWindowID id : ids) {
            WindowRecord* w = liveWindow(id);
            if (w == nullptr || !onScreen(*w) || w->poppedOut()) continue;
            if (w->decoration == xplm_WindowDecorationRoundRectangle) {
                renderer_->drawDecoration(w->left, w->top, w->right, w->bottom, windowInFront(*w));
            }
            drawOne(id, *w);
        }
    }
    renderer_->resetCallbackState();
    boundTexture_.fill(-1);
}

bool HostState::readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) {
    return renderer_ != nullptr && renderer_->readDesktop(rgba, width, height);
}

bool HostState::screenshotPopout(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    if (renderer_ == nullptr || !popoutDrawn_ || !renderer_->readOffscreen(rgba, width, height)) {
        error = "screenshot-popout " + path + ": no popped-out window has been drawn";
        return false;
    }
    return writePng(path, rgba, width, height, error);
}

bool HostState::screenshot(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    if (!readDesktop(rgba, width, height)) {
        error = "screenshot " + path + ": there is no OpenGL context to read";
        return false;
    }
    return writePng(path, rgba, width, height, error);
}

}  // namespace xpsim
