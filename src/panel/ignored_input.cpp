#include "panel/ignored_input.h"

void handlePanelKey(XPLMWindowID, char, XPLMKeyFlags, char, void*, int) {}

XPLMCursorStatus handlePanelCursor(XPLMWindowID, int, int, void*) { return xplm_CursorDefault; }

// Consumed, so a right click on the panel does not reach whatever lies under it.
int handlePanelRightClick(XPLMWindowID, int, int, XPLMMouseStatus, void*) { return 1; }
