#include "pipeline/capture.h"

#include "browser/browser.h"
#include "panel/panel_window.h"
#include "plugin/settings.h"

namespace {

constexpr double captureCheckPeriod = 0.5;  // seconds of simulator time

bool panelVisible() { return panelWindow != nullptr && XPLMGetWindowIsVisible(panelWindow) != 0; }

}  // namespace

float PanelFlightLoop(float, float, int, void*)
{
    try {
        const double now = static_cast<double>(XPLMGetElapsedTime());
        if (now - lastCaptureTime > captureCheckPeriod) {
            if (panelVisible()) RequestCapture();
            lastCaptureTime = now;
        }
        // A fresh navigation to the configured page, also replacing a page reached by clicks.
        if (refreshWebPageSecs > 0 && now - lastRefreshTime > static_cast<double>(refreshWebPageSecs)) {
            if (browserViewReady()) navigateBrowser(webUrl);
            lastRefreshTime = now;
        }
    } catch (...) {
        XPLMDebugString("CV: flight loop failed\n");
    }
    return -1.0f;
}

void RequestCapture()
{
    if (!panelVisible()) return;
    if (!browserViewReady()) {
        XPLMDebugString("CV: error, could not lookup our Webview.\n");
        return;
    }
    bool expected = false;
    if (!captureInFlight.compare_exchange_strong(expected, true)) return;
    if (!startBrowserSnapshot()) captureInFlight.store(false);
}
