// State of the WebView2 backend shared by its files. Main thread only, no locks.
//
// What belongs to one browser's life lives in WebView2Browser, which a re-creation replaces
// whole; what outlives it (the hidden window, COM, the loader, the back-off) stays apart.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

#include "browser/browser.h"
#include "browser/browser_policy.h"
#include "browser/devtools/command.h"
#include "platform/com_callback.h"
#include "platform/webview2.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

// Which browser a completion belongs to. Each handler keeps the generation of the browser it
// was made for and drops the completion untouched when that browser is no longer the current
// one: it was replaced after a failure, or the plugin was stopped (and perhaps started again in
// a module that stayed loaded). Generations only grow, so none is used twice in this process.
using BrowserGeneration = unsigned long long;

// One handler of ours on an event of a browser object (the view, a DevTools event receiver):
// added when this is made, removed with its token when this goes, so that the object never
// keeps a handler of ours past its registration. Empty when the object would not take it.
template <class Source>
class EventSubscription {
public:
    using Add = HRESULT (STDMETHODCALLTYPE Source::*)(IUnknown*, WebView2EventToken*);
    using Remove = HRESULT (STDMETHODCALLTYPE Source::*)(WebView2EventToken);

    EventSubscription() = default;
    EventSubscription(Source* source, Add add, Remove remove, IUnknown* handler) : remove_(remove) {
        if (source != nullptr && handler != nullptr && SUCCEEDED((source->*add)(handler, &token_))) source_ = source;
    }
    EventSubscription(EventSubscription&& other) noexcept { *this = std::move(other); }
    EventSubscription& operator=(EventSubscription&& other) noexcept {
        if (this == &other) return *this;
        end();
        // Swapped, not move-assigned: MinGW-w64's move assignment copies, leaving `other` subscribed too.
        source_.Swap(other.source_);
        remove_ = other.remove_;
        token_ = other.token_;
        return *this;
    }
    EventSubscription(const EventSubscription&) = delete;
    EventSubscription& operator=(const EventSubscription&) = delete;
    ~EventSubscription() { end(); }

    explicit operator bool() const { return source_ != nullptr; }

private:
    void end() {
        if (source_) (source_.Get()->*remove_)(token_);
        source_.Reset();
    }

    Microsoft::WRL::ComPtr<Source> source_;
    Remove remove_ = nullptr;
    WebView2EventToken token_{};
};

// One browser, from its environment request until it is let go of.
struct WebView2Browser {
    BrowserGeneration generation = 0;
    // Null until the bring-up step that sets them has completed.
    Microsoft::WRL::ComPtr<ICoreWebView2Environment3> webViewEnvironment;
    Microsoft::WRL::ComPtr<ICoreWebView2CompositionController> compositionController;
    Microsoft::WRL::ComPtr<ICoreWebView2Controller> webViewController;
    Microsoft::WRL::ComPtr<ICoreWebView2> webView;
    // The page's dialog while it waits for the pilot: its arguments and our deferral of it.
    Microsoft::WRL::ComPtr<ICoreWebView2ScriptDialogOpeningEventArgs> dialogArgs;
    Microsoft::WRL::ComPtr<ICoreWebView2Deferral> dialogDeferral;
    // The dialogs of the page's current load, for a flood of them.
    DialogFlood dialogFlood;
    // Our periodic reload has been asked and its page has not loaded yet: a leave-page
    // question meanwhile is the reload's.
    bool reloadUnderway = false;
    // Snapshots asked of it and not answered yet, each with our reference to its stream. The
    // handler holds only the ticket, so a snapshot's memory goes as soon as its answer comes or
    // the capture schedule gives up on it; the tickets given up on are kept until then, so
    // that a late answer is still told apart from a call that is owed nothing.
    OwedSnapshots<Microsoft::WRL::ComPtr<IStream>> owedSnapshots;
    std::set<CaptureTicket> snapshotsGivenUp;
    HangWatch hangWatch;
    // Simulator time of the reload that answered the last failure of its page's process.
    std::optional<double> pageReloadedAt;
    // The commands that set the page's focus reports up, not yet answered; refused, they are
    // told once.
    int focusChannelUnanswered = 0;
    bool focusChannelRefused = false;
    // While set, the page is not loaded yet: it waits for those answers, at most until then
    // (simulator time).
    std::optional<double> pageHeldUntil;
    // The page's screencast: set while its frames are to be shown. Each start is numbered, so
    // that the answer to an earlier one is told apart.
    bool screencasting = false;
    unsigned screencastRun = 0;
    // Our handlers on its view and on the view's DevTools events (the page's focus reports,
    // Runtime.bindingCalled). Declared last, so that they are removed before the objects they
    // were added to are released; retireBrowser removes them first of all.
    struct Events {
        EventSubscription<ICoreWebView2> processFailed, navigationCompleted;
        EventSubscription<ICoreWebView2DevToolsProtocolEventReceiver> focusReports;
        EventSubscription<ICoreWebView2DevToolsProtocolEventReceiver> screencastFrames, screencastVisibility;
        EventSubscription<ICoreWebView2> scriptDialog, newWindow, permission;
        // Through the view's fourth version (a runtime too old has none).
        EventSubscription<ICoreWebView2_4> download;
    } events;
};

// The browser of the moment: none before start, while a new one is waited for, and after stop.
extern std::optional<WebView2Browser> browser;

// True when a completion made for `generation` belongs to the browser of the moment.
inline bool isCurrentBrowser(BrowserGeneration generation) { return browser && browser->generation == generation; }

// A string the browser handed out, as UTF-8, taken over and freed.
inline std::string takeString(LPWSTR text) {
    std::string result = text != nullptr ? toUtf8(text) : std::string();
    CoTaskMemFree(text);
    return result;
}

// The simulator's clock, in seconds: deadlines of the browser's life are kept in it.
inline double now() { return static_cast<double>(XPLMGetElapsedTime()); }

// An HRESULT as a log line shows it: "0x80070005".
inline std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// A full path, taken as it is, without searching: "C:\..." or "\\server\...".
inline bool isAbsoluteWindowsPath(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return true;
    return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

// `into` becomes `object`'s interface `id`; false when it has none.
template <class Interface>
bool queryInterface(IUnknown* object, const IID& id, Microsoft::WRL::ComPtr<Interface>& into) {
    object->QueryInterface(id, reinterpret_cast<void**>(into.ReleaseAndGetAddressOf()));
    return into != nullptr;
}

// What must not be left undone after a handler's work threw: mostly nothing.
struct NothingMore {
    void operator()() const {}
};

// Every handler of ours on a browser, completion or event, is made here. Its `work` runs with
// the call's arguments only while the browser it was made for is the current one: a call for
// an earlier browser, or after stop, is dropped untouched, without even a log line. What the
// work throws stays behind the one barrier, told as `line`; `failed` then runs too (behind the
// same barrier), while that browser is still the current one: what must not be left undone.
template <class Handler, class Work, class Failed = NothingMore>
Microsoft::WRL::ComPtr<Handler> browserHandler(const IID& id, BrowserGeneration generation, const char* line, Work work,
                                               Failed failed = {}) {
    return makeComCallback<Handler>(id, [generation, line, work, failed](auto... args) -> HRESULT {
        if (isCurrentBrowser(generation) && !guarded(line, [&] { work(args...); }) && isCurrentBrowser(generation))
            guarded(line, failed);
        return S_OK;
    });
}

// Our handler, made as above, on an event of `source`.
template <class Handler, class Source, class Work>
EventSubscription<Source> subscribe(Source* source, typename EventSubscription<Source>::Add add,
                                    typename EventSubscription<Source>::Remove remove, const IID& handlerId,
                                    BrowserGeneration generation, const char* line, Work work) {
    return {source, add, remove, browserHandler<Handler>(handlerId, generation, line, std::move(work)).Get()};
}

// The same for the event `Event` of `source`: its add_ and remove_ methods, the handler
// interface and its id all follow from the event's name, so none can be paired with another
// event's by mistake.
#define CV_SUBSCRIBE(source, Event, generation, line, work)                                                      \
    subscribe<ICoreWebView2##Event##EventHandler>(source, &std::remove_pointer_t<decltype(source)>::add_##Event, \
                                                  &std::remove_pointer_t<decltype(source)>::remove_##Event,      \
                                                  IID_ICoreWebView2##Event##EventHandler, generation, line, work)

// Sends one DevTools command to `current`'s page; `answered` runs with the browser's answer,
// and only while that browser is still the current one. What went wrong is returned as an
// HRESULT (the call was refused, or no handler could be made), and `answered` never runs then.
template <class Answered>
HRESULT callDevTools(WebView2Browser& current, const devtools::Command& command, Answered answered) {
    auto handler = browserHandler<ICoreWebView2CallDevToolsProtocolMethodCompletedHandler>(
        IID_ICoreWebView2CallDevToolsProtocolMethodCompletedHandler, current.generation,
        "CV: error after the page answered a command", [answered](HRESULT result, LPCWSTR) { answered(result); });
    if (!handler) return E_OUTOFMEMORY;
    return current.webView->CallDevToolsProtocolMethod(toWide(command.method).c_str(),
                                                       toWide(command.params.dump()).c_str(), handler.Get());
}

// ---- webview2_browser.cpp ----

// Asks for a new browser (environment, then composition controller, controller and view).
void bringUpBrowser();

// Lets go of the current browser: removes our handlers from it, answers every snapshot it
// still owes as failed (`answerOwed`; not at stop, where the capture schedule gives up its
// own), and releases its objects.
void retireBrowser(bool answerOwed);

// ---- webview2_recovery.cpp ----

// The back-off and its flight loop, from startBrowser to stopBrowser.
void startRecovery();
void stopRecovery();

// The browser is lost, hangs or could not be brought up: it is let go of and a new one is
// brought up after the back-off. `what` begins the attempt's one log line. A fault no quick
// retry mends (no runtime installed) waits the longest delay at once.
void browserFailed(const std::string& what, bool atLongestDelay = false);

// The current browser's view is ready; it has answered a snapshot.
void browserStarted();
void browserServed();

// The current browser's view reported one of its processes failed.
void onProcessFailed(COREWEBVIEW2_PROCESS_FAILED_KIND kind);

// While the page comes back from a failure, clicks on the last picture are kept and passed on
// once it has loaded (onPageLoaded). True when the click was kept.
bool keepClickUntilThePageIsBack(int pageX, int pageY);
void onPageLoaded();

// ---- webview2_input.cpp ----

// Sets up the page's focus reports for a browser whose view has just come up, and loads its
// page once they are in place (or could not be set up).
void loadPageWithInput(WebView2Browser& current);
// From the recovery flight loop: a page held past its wait is loaded without the reports.
void loadPageIfHeldTooLong();
// True while the current browser's page waits for its focus reports.
bool pageHeld();
// At stop: the next start tells input trouble afresh.
void resetPageInput();

// ---- webview2_screencast.cpp ----

// Renders a view that has just come up at the page scale of the moment (before its bounds are
// set, so that they are taken as layout pixels).
void applyPageScaleAtBringUp(WebView2Browser& current);

// ---- webview2_page_requests.cpp ----

// Takes over what the page asks of its browser on a view that has just come up: its dialogs
// (WebView2's own turned off), its new windows, its permission requests and its downloads.
void listenToPageRequests(WebView2Browser& current);
// The page that asked is gone (its process failed, or its browser): its dialog is cancelled
// and closed in the panel.
void forgetPageDialog(WebView2Browser& current);

// ---- user_data_folder.cpp ----

// The user-data folder the session's environment requests name: null (WebView2's default) until
// that default has been refused, then our own folder.
PCWSTR userDataFolder();
// An environment request was refused with `refusal`. True when that was WebView2's default
// folder refusing (access denied, or an invalid state), the first time this session, and our own
// folder is now made and in use: the caller asks again at once. One log line when it switches or
// cannot.
bool switchedToOwnUserDataFolder(HRESULT refusal);
// At stop: the next start tries WebView2's default first again.
void resetUserDataFolder();

// ---- handler_wait.cpp ----

// Called by stopBrowser after every reference into the browser is released. While the browser
// still holds completion handlers of this module, pumps the thread's posted and sent messages
// for at most 1 s so it can complete or release them. If some are still held then, pins this
// module, so that their late calls (and final Releases) find its code and are dropped there,
// and says so in one log line. True when the module was pinned.
bool waitForBrowserHandlers();
