#include "panel/pointer_tracker.h"

#include <cstdint>
#include <utility>

void PointerTracker::press(int x, int y, std::optional<PagePoint> page) {
    buttonDown_ = true;
    dragging_ = false;
    pressX_ = x;
    pressY_ = y;
    pressPage_ = page;
}

std::optional<PointerEvent> PointerTracker::drag(int x, int y, PagePoint page) {
    if (!buttonDown_) return std::nullopt;
    dragAt_ = page;
    if (dragging_ || !pressPage_) return std::nullopt;
    const std::int64_t dx = static_cast<std::int64_t>(x) - pressX_, dy = static_cast<std::int64_t>(y) - pressY_;
    if (dx * dx + dy * dy <= static_cast<std::int64_t>(dragThreshold) * dragThreshold) return std::nullopt;
    dragging_ = true;
    lastSent_ = *pressPage_;
    return PointerEvent{PagePointer::Press, *pressPage_};
}

std::vector<PointerEvent> PointerTracker::release(std::optional<PagePoint> page) {
    buttonDown_ = false;
    if (!std::exchange(dragging_, false)) return {};
    const PagePoint at = page.value_or(dragAt_);
    std::vector<PointerEvent> events;
    if (at != lastSent_) events.push_back({PagePointer::Drag, at});
    events.push_back({PagePointer::Release, at});
    over_ = true;
    lastSent_ = at;
    return events;
}

void PointerTracker::clicked(PagePoint page) {
    over_ = true;
    lastSent_ = page;
}

void PointerTracker::hover(PagePoint page) {
    hoverSeen_ = true;
    hoverAt_ = page;
}

std::optional<PointerEvent> PointerTracker::frame() {
    const bool seen = std::exchange(hoverSeen_, false);
    if (buttonDown_) {
        if (!dragging_ || dragAt_ == lastSent_) return std::nullopt;
        lastSent_ = dragAt_;
        return PointerEvent{PagePointer::Drag, dragAt_};
    }
    if (seen) {
        if (over_ && hoverAt_ == lastSent_) return std::nullopt;
        over_ = true;
        lastSent_ = hoverAt_;
        return PointerEvent{PagePointer::Move, hoverAt_};
    }
    if (!over_) return std::nullopt;
    over_ = false;
    return PointerEvent{PagePointer::Leave, lastSent_};
}

std::vector<PointerEvent> PointerTracker::stop() {
    std::vector<PointerEvent> events;
    if (dragging_) events.push_back({PagePointer::Release, dragAt_});
    if (over_ || dragging_) events.push_back({PagePointer::Leave, dragging_ ? dragAt_ : lastSent_});
    *this = PointerTracker{};
    return events;
}
