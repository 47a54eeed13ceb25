#pragma once

#include "platform/xplm.h"

// Left clicks on the panel go to the page as a press and release at the release point.
int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);

// VR mapping: scales the panel window's rectangle onto the whole page. True when the page
// position lies on the page; the outputs stay untouched for a window of zero width or height.
bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY);

// Desktop mapping: scales the panel window's rectangle onto the whole page, as the image is
// drawn, clamping its edges onto the page. False for a point off the window or a window or
// page without area.
bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY);
