#include "panel/ignored_input.h"

// Consumed, so a right click on the panel does not reach whatever lies under it.
int handlePanelRightClick(XPLMWindowID, int, int, XPLMMouseStatus, void*) { return 1; }
