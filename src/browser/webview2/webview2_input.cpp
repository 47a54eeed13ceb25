// The page's keyboard and its focus reports on Windows. The composition controller has no
// keyboard call and the host window never has the system's focus, so keys and typed text go
// to the page as the same DevTools commands the Linux backend sends over its pipe, through
// ICoreWebView2::CallDevToolsProtocolMethod. The page's focus reports come the same way too:
// the focus channel's script, in an isolated world of its own, reports through a binding, and
// Runtime.bindingCalled reaches us through a DevTools event receiver. Both are set up per
// browser before its page is loaded, and go with it.
#include <string>
#include <utility>

#include "browser/browser.h"
#include "browser/devtools/focus_channel.h"
#include "browser/devtools/input.h"
#include "browser/webview2/webview2_state.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/text_encoding.h"

namespace {

// A browser that never answers the channel's commands still gets its page after this long;
// it then shows the page but never reports a text element.
constexpr double focusChannelWait = 5.0;

// Keys go out as the pilot types: trouble sending them is told when it starts.
RepeatingLine inputTrouble;

void loadHeldPage(WebView2Browser& current) {
    current.pageHeldUntil.reset();
    current.webView->Navigate(webUrl.c_str());
}

void focusChannelAnswered(HRESULT result) {
    WebView2Browser& current = *browser;
    // Without the reports the panel never takes the keyboard; clicks and hovering still work.
    if (FAILED(result) && !current.focusChannelRefused) {
        current.focusChannelRefused = true;
        debugLog("CV: the page cannot report its focus (%s); typing into the panel is off for this browser.\n",
                 hex(result).c_str());
    }
    if (--current.focusChannelUnanswered == 0 && current.pageHeldUntil) loadHeldPage(current);
}

void onFocusReport(ICoreWebView2*, ICoreWebView2DevToolsProtocolEventReceivedEventArgs* args) {
    LPWSTR json = nullptr;
    if (args == nullptr || FAILED(args->get_ParameterObjectAsJson(&json))) return;
    const nlohmann::json params = nlohmann::json::parse(takeString(json), nullptr, false);
    if (const auto takesText = devtools::textFocusReport(params)) onBrowserTextFocus(*takesText);
}

// The page's focus reports: Runtime.bindingCalled, through a DevTools event receiver.
void listenForFocusReports(WebView2Browser& current) {
    Microsoft::WRL::ComPtr<ICoreWebView2DevToolsProtocolEventReceiver> receiver;
    if (FAILED(current.webView->GetDevToolsProtocolEventReceiver(L"Runtime.bindingCalled", receiver.GetAddressOf())))
        return;
    current.events.focusReports = CV_SUBSCRIBE(receiver.Get(), DevToolsProtocolEventReceived, current.generation,
                                               "CV: error while following the page's focus", onFocusReport);
}

}  // namespace

void loadPageWithInput(WebView2Browser& current) {
    listenForFocusReports(current);
    if (!current.events.focusReports) {
        XPLMDebugString("CV: WebView2 will not pass on the page's focus reports; typing into the panel is off for "
                        "this browser.\n");
        return loadHeldPage(current);
    }
    // Before the page loads, so its documents carry the focus reports from the start: a
    // navigation that overtakes the script's registration can miss it.
    current.pageHeldUntil = now() + focusChannelWait;
    const BrowserGeneration generation = current.generation;
    const auto channel = devtools::textFocusChannel();
    current.focusChannelUnanswered = static_cast<int>(channel.size());
    for (const devtools::Command& command : channel) {
        const HRESULT sent = callDevTools(current, command, focusChannelAnswered);
        // A refusal never reaches the handler: it is answered here.
        if (FAILED(sent) && isCurrentBrowser(generation)) focusChannelAnswered(sent);
        if (!isCurrentBrowser(generation)) return;
    }
}

void loadPageIfHeldTooLong() {
    if (browser && browser->pageHeldUntil && now() >= *browser->pageHeldUntil) {
        XPLMDebugString("CV: WebView2 did not set up the page's focus reports in time; loading the page without "
                        "them.\n");
        loadHeldPage(*browser);
    }
}

bool pageHeld() { return browser && browser->pageHeldUntil.has_value(); }

void resetPageInput() { inputTrouble.clear(); }

namespace {

// Keys and text reach the page of the browser of the moment; with none (being re-created, or
// stopped) they are dropped: the panel has given the keyboard back by then.
void sendInput(const devtools::Command& command) {
    if (!browserViewReady() || browser->pageHeldUntil) return;
    try {
        const HRESULT sent = callDevTools(*browser, command, [](HRESULT) {});
        if (SUCCEEDED(sent)) {
            inputTrouble.clear();
        } else if (inputTrouble.due()) {
            debugLog("CV: could not send input to the page: CallDevToolsProtocolMethod returned %s\n",
                     hex(sent).c_str());
        }
    } catch (const std::exception& e) {
        if (inputTrouble.due()) debugLog("CV: could not send input to the page: %s\n", e.what());
    }
}

}  // namespace

void sendBrowserKey(const PageKey& key) { sendInput(devtools::keyEvent(key)); }

void sendBrowserText(const std::string& text) { sendInput(devtools::insertText(text)); }
