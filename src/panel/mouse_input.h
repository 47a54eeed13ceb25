#pragma once

#include "platform/xplm.h"

// The panel's pointer on the page. Left clicks go to the page as a press and release at the
// release point. With PanelInput full, a press that moves beyond a few boxels is a drag
// instead (press, moves, release), and the pointer resting over the panel hovers over the
// page. The panel's input decides when the page gets the pointer. Main thread only.

enum class PointerOutcome {
    Taken,     // consumed; nothing for the keyboard to follow
    Released,  // a click or a drag's release reached the page (PanelInput full)
    OffPanel,  // a release beyond the panel: left to whatever lies under it
};
// One call of the panel's mouse callback, for the page.
PointerOutcome sendPanelPointer(XPLMWindowID window, int x, int y, XPLMMouseStatus mouse);
// The simulator asked for the cursor with the pointer at (x, y) over the panel.
void hoverPanelPointer(XPLMWindowID window, int x, int y);
// Once a frame (PanelInput full): the newest hover or drag position, or the pointer leaving.
void sendPointerFrame();
// Input stops: a drag is released and the pointer leaves the page.
void stopPointerInput();

// The click mapping for the window's placement: scaled in VR, as drawn on the desktop.
bool mapPanelPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY);

// VR mapping: scales the panel window's rectangle onto the whole page. True when the page
// position lies on the page; the outputs stay untouched for a window of zero width or height.
bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY);

// Desktop mapping: scales the panel window's rectangle onto the whole page, as the image is
// drawn, clamping its edges onto the page. False for a point off the window or a window or
// page without area.
bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY);
