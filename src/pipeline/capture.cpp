#include "pipeline/capture.h"

#include <chrono>
#include <utility>

#include "browser/browser.h"
#include "panel/panel_window.h"
#include "pipeline/capture_completion.h"
#include "plugin/settings.h"
#include "plugin/throttled_line.h"

namespace {

constexpr double captureCheckPeriod = 0.5;  // seconds of simulator time
// A browser that has not answered a snapshot by then is hung or has lost it; the schedule
// must not wait for it forever. Wall-clock time: it measures the browser, not the simulator.
constexpr auto captureTimeout = std::chrono::seconds(10);

CaptureTicket lastTicket = 0;
CaptureTicket ticketInFlight = 0;
ThrottledLine::Clock::time_point captureStartedAt;
ThrottledLine viewMissingLine;
ThrottledLine timedOutLine;
ThrottledLine lateAnswerLine;

bool panelVisible() { return panelWindow != nullptr && XPLMGetWindowIsVisible(panelWindow) != 0; }

void endCapture()
{
    ticketInFlight = 0;
    captureInFlight.store(false);
}

// Gives up on a snapshot the browser has not answered in time, so the schedule can ask again.
void expireCapture(ThrottledLine::Clock::time_point now)
{
    if (!captureInFlight.load() || now - captureStartedAt < captureTimeout) return;
    endCapture();
    if (timedOutLine.due(now)) XPLMDebugString("CV: the browser did not answer a snapshot within 10 s; asking again.\n");
}

}  // namespace

float PanelFlightLoop(float, float, int, void*)
{
    try {
        const double now = static_cast<double>(XPLMGetElapsedTime());
        if (now - lastCaptureTime > captureCheckPeriod) {
            expireCapture(ThrottledLine::Clock::now());
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
    const auto now = ThrottledLine::Clock::now();
    if (!browserViewReady()) {
        // Written when the view goes missing, then once a minute: a browser that is coming up
        // or has been lost must not bury the simulator's log twice a second.
        if (viewMissingLine.due(now)) XPLMDebugString("CV: error, could not lookup our Webview.\n");
        return;
    }
    viewMissingLine.reset();
    bool expected = false;
    if (!captureInFlight.compare_exchange_strong(expected, true)) return;
    ticketInFlight = ++lastTicket;
    captureStartedAt = now;
    bool started = false;
    try {
        started = startBrowserSnapshot(ticketInFlight);
    } catch (...) {
        XPLMDebugString("CV: could not request a snapshot\n");
    }
    // A request that never left must not hold the schedule up for the rest of the session.
    if (!started) endCapture();
}

void onBrowserSnapshot(CaptureTicket ticket, bool succeeded, PngBuffer snapshot)
{
    if (ticket == 0 || ticket != ticketInFlight) {
        if (lateAnswerLine.due(ThrottledLine::Clock::now()))
            XPLMDebugString("CV: dropped a snapshot that arrived after its time-out.\n");
        return;
    }
    ticketInFlight = 0;
    timedOutLine.reset();
    OnCaptureCompleted(succeeded, std::move(snapshot));
}
