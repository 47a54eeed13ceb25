// The page's live frames in Chromium.
#include "browser/chromium/chromium_state.h"

bool startBrowserScreencast() { return false; }
void stopBrowserScreencast() {}
void setBrowserPageScale(double) {}
