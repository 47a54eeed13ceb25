// The page input the panel sends, as DevTools protocol commands. Positions are CSS pixels of
// the page (the backend scales page pixels by its zoom).
#pragma once

#include <string>

#include "browser/devtools/command.h"
#include "browser/page_input.h"

namespace devtools {

// Input.dispatchMouseEvent. A Press and a Release are the left button's, with one click;
// Leave moves the pointer off the page, which ends hover styles as leaving a window does.
Command mouseEvent(PagePointer what, double cssX, double cssY);
// How far one notch of a desktop mouse's wheel scrolls a page, in CSS pixels.
inline constexpr double wheelNotchCss = 100.0;
// Input.dispatchMouseEvent of a wheel turned over (cssX, cssY): the page scrolls by the deltas,
// in CSS pixels, positive to the right and down.
Command mouseWheel(double cssX, double cssY, double deltaX, double deltaY);
// Input.dispatchKeyEvent: a key going down (again, while held) or up, with its DOM key and
// code names and its Windows virtual-key code, as a keyboard would give them.
Command keyEvent(const PageKey& key);
// Input.insertText: whole characters into the focused element.
Command insertText(const std::string& utf8);

}  // namespace devtools
