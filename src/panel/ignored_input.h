#pragma once

#include "platform/xplm.h"

// The panel's answer to right clicks, which it takes no notice of. X-Plane calls every
// callback slot of a window without checking it, so the slot holds this rather than null: the
// right click is swallowed without passing anything to the page. Main thread only, like every
// window callback.
int handlePanelRightClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);
