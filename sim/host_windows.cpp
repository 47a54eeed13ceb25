// Windows: geometry, positioning modes, VR, front order per layer, pointer routing with
// capture from press to release, and drawing them each frame.
#include "host_state.h"

#include "desktop_renderer.h"
#include "png_writer.h"

#include <algorithm>
#include <cstring>

namespace xpsim {

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
    windows_.erase(id);
}

bool HostState::windowInVr(const WindowRecord& w) const {
    return vr_ && w.positioningMode == xplm_WindowVR;
}

void HostState::windowGeometry(const WindowRecord& w, int& l, int& t, int& r, int& b) const {
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

std::vector<WindowRecord*> HostState::frontOrder(int layer) const {
    std::vector<WindowRecord*> result;
    for (XPLMWindowID id : zOrder_[static_cast<std::size_t>(layer)]) {
        auto it = windows_.find(id);
        if (it != windows_.end()) result.push_back(it->second.get());
    }
    return result;
}

bool HostState::windowInFront(const WindowRecord& w) const {
    if (!w.shown()) return false;
    const auto order = frontOrder(w.layer);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if ((*it)->shown()) return *it == &w;
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

WindowRecord* HostState::hitTest(int x, int y) {
    // While any visible window is in VR, the pointer is the VR controller: it aims at the
    // front-most visible VR window, in that window's own space.
    for (int layer = kLayerCount - 1; layer >= 0; --layer) {
        const auto order = frontOrder(layer);
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            if ((*it)->shown() && windowInVr(**it)) return *it;
        }
    }
    for (int layer = kLayerCount - 1; layer >= 0; --layer) {
        const auto order = frontOrder(layer);
        for (auto it = order.rbegin(); it != order.rend(); ++it) {
            const WindowRecord& w = **it;
            if (w.shown() && w.left <= x && x < w.right && w.bottom < y && y <= w.top) return *it;
        }
    }
    return nullptr;
}

void HostState::pointer(int x, int y, XPLMMouseStatus status) {
    const std::string where = " at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    WindowRecord* target = nullptr;
    if (status == xplm_MouseDown) {
        target = hitTest(x, y);
        captured_ = target;
        if (target == nullptr) {
            hostLine("press" + where + " hits no window");
            return;
        }
    } else {
        // Drag and release go to the window that got the press, wherever the pointer is.
        auto it = windows_.find(captured_);
        if (captured_ == nullptr || it == windows_.end()) {
            hostLine(std::string(status == xplm_MouseDrag ? "drag" : "release") + where + " without a press ignored");
            captured_ = nullptr;
            return;
        }
        target = it->second.get();
        if (status == xplm_MouseUp) captured_ = nullptr;
    }
    XPLMHandleMouseClick_f click = target->params.handleMouseClickFunc;
    if (click == nullptr) {
        hostLine("window \"" + target->title + "\" has no click callback");
        return;
    }
    void* refcon = target->params.refcon;
    intoModule(target->owner, "a mouse click callback", [&] { return click(target, x, y, status, refcon); });
}

void HostState::wheel(int x, int y, int clicks, int axis) {
    WindowRecord* target = hitTest(x, y);
    if (target == nullptr) {
        hostLine("wheel at (" + std::to_string(x) + ", " + std::to_string(y) + ") hits no window");
        return;
    }
    XPLMHandleMouseWheel_f wheelFunc = target->params.handleMouseWheelFunc;
    if (wheelFunc == nullptr) {
        hostLine("window \"" + target->title + "\" has no mouse wheel callback");
        return;
    }
    void* refcon = target->params.refcon;
    intoModule(target->owner, "a mouse wheel callback", [&] { return wheelFunc(target, x, y, axis, clicks, refcon); });
}

void HostState::drawWindows() {
    if (renderer_ == nullptr) return;  // no context: draw callbacks are never called without one
    // Ids first: a callback may destroy windows (its own included) or create new ones.
    std::vector<XPLMWindowID> ids;
    for (int layer = 0; layer < kLayerCount; ++layer) {
        for (XPLMWindowID id : zOrder_[static_cast<std::size_t>(layer)]) ids.push_back(id);
    }
    auto drawOne = [this](WindowRecord& w) {
        XPLMDrawWindow_f draw = w.params.drawWindowFunc;
        if (draw == nullptr) return;
        boundTexture_.fill(-1);
        void* refcon = w.params.refcon;
        renderer_->takeGlError();
        intoModule(w.owner, "a draw callback", [&] { draw(&w, refcon); });
        reportGlError(w.owner, "the draw callback of window \"" + w.title + "\"");
    };
    // Windows in VR first, each into its own offscreen target.
    for (XPLMWindowID id : ids) {
        auto it = windows_.find(id);
        if (it == windows_.end() || !it->second->shown() || !windowInVr(*it->second)) continue;
        WindowRecord& w = *it->second;
        const int width = std::max(1, w.right - w.left), height = std::max(1, w.top - w.bottom);
        renderer_->beginVr(width, height);
        drawOne(w);
        renderer_->endVr();
    }
    renderer_->beginDesktop();
    for (XPLMWindowID id : ids) {
        auto it = windows_.find(id);
        if (it == windows_.end() || !it->second->shown() || windowInVr(*it->second)) continue;
        WindowRecord& w = *it->second;
        if (w.decoration == xplm_WindowDecorationRoundRectangle) {
            renderer_->drawDecoration(w.left, w.top, w.right, w.bottom, windowInFront(w));
        }
        renderer_->resetCallbackState();
        drawOne(w);
    }
    renderer_->resetCallbackState();
    boundTexture_.fill(-1);
}

bool HostState::readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) {
    return renderer_ != nullptr && renderer_->readDesktop(rgba, width, height);
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
