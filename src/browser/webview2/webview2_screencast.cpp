// The page's live frames in WebView2.
#include "browser/webview2/webview2_state.h"

bool startBrowserScreencast() { return false; }
void stopBrowserScreencast() {}
void setBrowserPageScale(double) {}
