#include "pipeline/capture.h"

#include <exception>

#include "browser/browser.h"
#include "panel/panel_window.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr double captureCheckPeriod = 0.5;  // seconds of simulator time

// Failing to start snapshots (out of memory, for one) would otherwise be told twice a second.
RepeatingLine snapshotStartTrouble;

void tellSnapshotStartTrouble(const char* why)
{
    if (snapshotStartTrouble.due()) debugLog("CV: could not start a snapshot (%s); trying again.\n", why);
}

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
    bool started = false;
    try {
        started = startBrowserSnapshot();
        if (started) snapshotStartTrouble.clear();
    } catch (const std::exception& e) {
        tellSnapshotStartTrouble(e.what());
    } catch (...) {
        tellSnapshotStartTrouble("unknown error");
    }
    // A request that never got under way has no completion to clear the flag, and a flag left
    // set would stop snapshots for the rest of the session.
    if (!started) captureInFlight.store(false);
}
