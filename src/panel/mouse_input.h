#pragma once

#include "platform/xplm.h"

// Left clicks on the panel go to the page as a press and release at the release point.
int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);

// VR mapping: scales the panel window's rectangle onto the whole page. True when the page
// position lies on the page; the outputs stay untouched for a window of zero width or height.
bool mapWindowPointToPage(int x, int y, int& pageX, int& pageY);

// Desktop mapping: one boxel is one page pixel from the window's top-left corner.
bool mapDesktopPointToPage(XPLMWindowID window, int x, int y, int& pageX, int& pageY);
