// The page's live frames in WebView2, and the scale it is rendered at. The screencast is the
// DevTools one, as on Linux: Page.startScreencast through CallDevToolsProtocolMethod, each
// Page.screencastFrame through a DevTools event receiver, acknowledged by
// Page.screencastFrameAck. The page scale is the controller's rasterization scale, with the
// bounds taken as layout pixels: the layout stays 768 x 512 at the zoom, and the pictures,
// snapshots and frames alike, grow.
//
// A frame arrives on the main thread as JSON text with the picture in base64 (100-300 KB). It
// is parsed and decoded here, on the main thread, because onBrowserFrame takes the picture's
// bytes; both are single passes over the text (about a millisecond for the largest frames),
// and frames come only while the page paints.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "browser/browser.h"
#include "browser/devtools/base64.h"
#include "browser/devtools/page_commands.h"
#include "browser/webview2/webview2_state.h"
#include "platform/xplm.h"
#include "plugin/log.h"

namespace {

// 1 to 3: device pixels per layout pixel, for every browser of the session.
double pageScale = 1.0;
// A runtime without the rasterization scale shows the page at 1x: told once.
bool scaleUnavailableTold = false;
RepeatingLine malformedFrameLine;

bool setRasterizationScale(WebView2Browser& current, bool atBringUp) {
    Microsoft::WRL::ComPtr<ICoreWebView2Controller3> controller;
    if (!queryInterface(current.webViewController.Get(), IID_ICoreWebView2Controller3, controller)) return false;
    // The monitor's own scale would otherwise override ours, and raw-pixel bounds would shrink
    // the layout as the scale grows.
    if (atBringUp && (FAILED(controller->put_ShouldDetectMonitorScaleChanges(FALSE)) ||
                      FAILED(controller->put_BoundsMode(COREWEBVIEW2_BOUNDS_MODE_USE_RASTERIZATION_SCALE))))
        return false;
    return SUCCEEDED(controller->put_RasterizationScale(pageScale));
}

void applyPageScale(WebView2Browser& current, bool atBringUp) {
    if (setRasterizationScale(current, atBringUp) || pageScale == 1.0 || scaleUnavailableTold) return;
    scaleUnavailableTold = true;
    XPLMDebugString("CV: this WebView2 runtime cannot render the page at the panel's size; its pictures are "
                    "stretched instead.\n");
}

// Frames no larger than the pictures: the layout's size at the page scale.
devtools::Command startCommand(WebView2Browser& current) {
    RECT bounds{};
    if (FAILED(current.webViewController->get_Bounds(&bounds))) return devtools::screencastStart(0, 0);
    return devtools::screencastStart(static_cast<int>(std::lround((bounds.right - bounds.left) * pageScale)),
                                     static_cast<int>(std::lround((bounds.bottom - bounds.top) * pageScale)));
}

void screencastEnded(WebView2Browser& current, const std::string& why) {
    current.screencasting = false;
    ++current.screencastRun;
    onBrowserScreencastEnded(why.c_str());
}

// A start refused after the call: told, unless that screencast has been stopped since.
void startAnswered(unsigned run, HRESULT result) {
    WebView2Browser& current = *browser;
    if (SUCCEEDED(result) || !current.screencasting || current.screencastRun != run) return;
    screencastEnded(current, "WebView2 refused to start it: " + hex(result));
}

bool sendStart(WebView2Browser& current) {
    const BrowserGeneration generation = current.generation;
    current.screencasting = true;
    const unsigned run = ++current.screencastRun;
    const HRESULT sent =
        callDevTools(current, startCommand(current), [run](HRESULT result) { startAnswered(run, result); });
    if (SUCCEEDED(sent)) return true;
    if (isCurrentBrowser(generation) && browser->screencastRun == run) browser->screencasting = false;
    return false;
}

void sendStop(WebView2Browser& current) {
    current.screencasting = false;
    ++current.screencastRun;
    callDevTools(current, {"Page.stopScreencast", nlohmann::json::object()}, [](HRESULT) {});
}

// An event's parameters; null for anything that is not a JSON object.
nlohmann::json eventParameters(ICoreWebView2DevToolsProtocolEventReceivedEventArgs* args) {
    LPWSTR json = nullptr;
    if (args == nullptr || FAILED(args->get_ParameterObjectAsJson(&json))) return nullptr;
    nlohmann::json params = nlohmann::json::parse(takeString(json), nullptr, false);
    return params.is_object() ? std::move(params) : nlohmann::json();
}

void onFrame(ICoreWebView2*, ICoreWebView2DevToolsProtocolEventReceivedEventArgs* args) {
    const nlohmann::json params = eventParameters(args);
    if (params.is_null()) return;
    const auto session = params.find("sessionId");
    // Without its session the frame cannot be acknowledged, and the browser sends no more.
    if (session == params.end() || !session->is_number_integer()) return;
    WebView2Browser& current = *browser;
    const BrowserGeneration generation = current.generation;
    // A frame that comes after a stop is acknowledged all the same, but not shown.
    if (current.screencasting) {
        const auto data = params.find("data");
        PngBuffer frame;
        if (data != params.end() && data->is_string() &&
            devtools::decodeBase64(data->get_ref<const std::string&>(), frame.bytes) && !frame.empty()) {
            malformedFrameLine.clear();
            onBrowserFrame(std::move(frame));
        } else if (malformedFrameLine.due()) {
            XPLMDebugString("CV: WebView2 sent a live frame without a picture; it was skipped.\n");
        }
    }
    if (!isCurrentBrowser(generation)) return;
    const nlohmann::json ack = {{"sessionId", session->get<std::int64_t>()}};
    callDevTools(*browser, {"Page.screencastFrameAck", ack}, [](HRESULT) {});
}

void onVisibility(ICoreWebView2*, ICoreWebView2DevToolsProtocolEventReceivedEventArgs* args) {
    const nlohmann::json params = eventParameters(args);
    if (params.is_null()) return;
    const auto visible = params.find("visible");
    if (visible == params.end() || !visible->is_boolean() || visible->get<bool>()) return;
    if (!browser->screencasting) return;
    const BrowserGeneration generation = browser->generation;
    // The browser paints nothing for it: stopped on both sides, and the panel goes to snapshots.
    sendStop(*browser);
    if (isCurrentBrowser(generation))
        screencastEnded(*browser, "WebView2 says the page is not visible to its screencast");
}

EventSubscription<ICoreWebView2DevToolsProtocolEventReceiver> listen(
    WebView2Browser& current, const wchar_t* event,
    void (*work)(ICoreWebView2*, ICoreWebView2DevToolsProtocolEventReceivedEventArgs*)) {
    Microsoft::WRL::ComPtr<ICoreWebView2DevToolsProtocolEventReceiver> receiver;
    if (FAILED(current.webView->GetDevToolsProtocolEventReceiver(event, receiver.GetAddressOf()))) return {};
    return CV_SUBSCRIBE(receiver.Get(), DevToolsProtocolEventReceived, current.generation,
                        "CV: error while taking a live frame", work);
}

// The frames and the visibility reports of `current`, subscribed to at its first screencast.
bool listenForFrames(WebView2Browser& current) {
    auto& events = current.events;
    if (!events.screencastFrames) events.screencastFrames = listen(current, L"Page.screencastFrame", onFrame);
    if (!events.screencastVisibility)
        events.screencastVisibility = listen(current, L"Page.screencastVisibilityChanged", onVisibility);
    return static_cast<bool>(events.screencastFrames);
}

}  // namespace

void applyPageScaleAtBringUp(WebView2Browser& current) { applyPageScale(current, true); }

// A busy page stays on its screencast here: what a screencast costs WebView2, and what a shot
// would instead, could not be measured without it.
bool startBrowserShot(CaptureTicket) { return false; }

bool startBrowserScreencast() {
    if (!browserViewReady()) return false;
    WebView2Browser& current = *browser;
    if (current.screencasting) return true;
    return listenForFrames(current) && sendStart(current);
}

void stopBrowserScreencast() {
    if (browser && browser->screencasting) sendStop(*browser);
}

void setBrowserPageScale(double scale) {
    if (!(scale >= 1.0 && scale <= 3.0) || scale == pageScale) return;
    pageScale = scale;
    if (!browserControllerReady()) return;  // the bring-up takes it
    const BrowserGeneration generation = browser->generation;
    applyPageScale(*browser, false);
    // A running screencast is started again for frames of the new size.
    if (!browser->screencasting || !browserViewReady()) return;
    sendStop(*browser);
    if (isCurrentBrowser(generation) && !sendStart(*browser) && isCurrentBrowser(generation))
        screencastEnded(*browser, "WebView2 could not start it again at the new page scale");
}
