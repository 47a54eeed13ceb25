#pragma once

#include "platform/xplm.h"

// Left clicks on the panel go to the page as a press and release at the release point. With
// PanelInput full, a press that moves beyond a few boxels is a drag instead (press, moves,
// release), and the pointer resting over the panel hovers over the page.
int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);
// The cursor callback: the simulator asks it every frame while the pointer is over the panel.
// The cursor stays the simulator's.
XPLMCursorStatus handlePanelCursor(XPLMWindowID inWindowID, int x, int y, void* inRefcon);
// Once a frame (PanelInput full): the newest hover or drag position, or the pointer leaving.
void sendPointerFrame();
// Input stops: a drag is released and the pointer leaves the page.
void stopPointerInput();

// VR mapping: scales the panel window's rectangle onto the whole page. True when the page
// position lies on the page; the outputs stay untouched for a window of zero width or height.
bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY);

// Desktop mapping: scales the panel window's rectangle onto the whole page, as the image is
// drawn, clamping its edges onto the page. False for a point off the window or a window or
// page without area.
bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY);
