// Placeholder until the Chromium backend lands: the plugin runs without a browser.
#include "browser/browser.h"

bool initBrowserThread() { return true; }
void createBrowserHostWindow() {}
void startBrowser() {}
void stopBrowser() {}
bool browserViewReady() { return false; }
bool browserControllerReady() { return false; }
void navigateBrowser(const std::wstring&) {}
void setBrowserZoom(double) {}
void sendBrowserClick(int, int) {}
bool startBrowserSnapshot() { return false; }
