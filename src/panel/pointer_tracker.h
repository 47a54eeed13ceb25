// Turns the simulator's pointer callbacks on the panel into page pointer input. A press that
// moves more than a few boxels becomes a drag: the press at the press point, moves while the
// button is held, the release where it comes up. Anything less stays a plain click, which the
// caller sends as before. While the pointer rests over the panel its page position becomes
// moves, and a frame in which the simulator did not ask for the cursor means the pointer has
// left. Moves go out from frame(), so at most one per frame. Pure logic: the caller maps
// positions and sends what it is given.
#pragma once

#include <optional>
#include <vector>

#include "browser/page_input.h"

struct PagePoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PagePoint&, const PagePoint&) = default;
};

struct PointerEvent {
    PagePointer what;
    PagePoint at;
    friend bool operator==(const PointerEvent&, const PointerEvent&) = default;
};

class PointerTracker {
public:
    // Beyond this many boxels from the press, in the window's own units, a press is a drag.
    static constexpr int dragThreshold = 3;

    // The button went down at window point (x, y), over `page` (empty when off the page).
    void press(int x, int y, std::optional<PagePoint> page);
    // The pointer moved with the button down, to `page` (clamped onto the page). Returns the
    // press to send when this movement starts a drag.
    std::optional<PointerEvent> drag(int x, int y, PagePoint page);
    // The button came up over `page` (clamped; empty when the window has no area, and a drag
    // then ends where it was last). Returns what ends a drag: the move to the release point
    // if the page has not seen it yet, then the release. Empty for a plain click.
    std::vector<PointerEvent> release(std::optional<PagePoint> page);
    // A plain click was sent at `page`: the page's pointer is there now.
    void clicked(PagePoint page);
    // The simulator asked for the cursor with the pointer over `page`.
    void hover(PagePoint page);
    // Once a frame: the newest drag position or hover position if it changed since the last
    // one sent, or a leave when the pointer was not over the panel since the last frame.
    std::optional<PointerEvent> frame();
    // Input stops (the panel hidden, the plugin disabled): a drag ends with its release, and a
    // pointer the page believes over it leaves.
    std::vector<PointerEvent> stop();

private:
    bool buttonDown_ = false;
    bool dragging_ = false;
    int pressX_ = 0, pressY_ = 0;
    std::optional<PagePoint> pressPage_;
    PagePoint dragAt_;
    bool hoverSeen_ = false;
    PagePoint hoverAt_;
    bool over_ = false;  // the page believes the pointer over it, at lastSent_
    PagePoint lastSent_;
};
