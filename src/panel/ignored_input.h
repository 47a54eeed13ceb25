#pragma once

#include "platform/xplm.h"

// The panel's answers to the input it takes no notice of. X-Plane calls every callback slot of
// a window without checking it, so each slot holds one of these rather than null: the panel
// takes no keyboard input, leaves the cursor to the simulator, and swallows right clicks
// without passing anything to the page. Main thread only, like every window callback.
void handlePanelKey(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void* inRefcon,
                    int losingFocus);
XPLMCursorStatus handlePanelCursor(XPLMWindowID inWindowID, int x, int y, void* inRefcon);
int handlePanelRightClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);
