#include "standin_browser.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/com_callback.h"
#include "snapshot_pattern.h"
#include "standin_completions.h"
#include "standin_page.h"
#include "standin_page_requests.h"
#include "standin_support.h"
#include "wic_png_encoder.h"

using Microsoft::WRL::ComPtr;

// The unused methods keep the parameter names of their declarations.
#if defined(__GNUC__)
#    pragma GCC diagnostic ignored "-Wunused-parameter"
#endif

namespace standin {

std::atomic<int> liveObjects{0};

namespace {

#define STANDIN_NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

// Every method answers E_NOTIMPL until a stand-in class overrides it.
struct WebViewBase : ICoreWebView2_4 {
    CV_WEBVIEW_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_WEBVIEW2_2_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_WEBVIEW2_3_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_WEBVIEW2_4_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct ControllerBase : ICoreWebView2Controller3 {
    CV_CONTROLLER_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_CONTROLLER2_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_CONTROLLER3_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct CompositionControllerBase : ICoreWebView2CompositionController {
    CV_COMPOSITION_CONTROLLER_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct EnvironmentBase : ICoreWebView2Environment3 {
    CV_ENVIRONMENT_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_ENVIRONMENT2_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_ENVIRONMENT3_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct ProcessFailedArgsBase : ICoreWebView2ProcessFailedEventArgs {
    CV_PROCESS_FAILED_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct NavigationCompletedArgsBase : ICoreWebView2NavigationCompletedEventArgs {
    CV_NAVIGATION_COMPLETED_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct DevToolsEventReceiverBase : ICoreWebView2DevToolsProtocolEventReceiver {
    CV_DEVTOOLS_EVENT_RECEIVER_METHODS(STANDIN_NOT_IMPLEMENTED)
};

// Reference counting and the live-object count shared by the stand-in objects.
class Counted {
public:
    Counted() { ++liveObjects; }
    virtual ~Counted() { --liveObjects; }
    ULONG addReference() { return ++references_; }
    ULONG releaseReference() {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};

const DWORD* creatorThread() {
    static DWORD thread = GetCurrentThreadId();
    return &thread;
}

// The real browser calls back only on the thread that created it.
void checkThread(const char* what) {
    if (GetCurrentThreadId() != *creatorThread()) record(std::string("wrong-thread ") + what);
}

// WIDTHxHEIGHT from CV_WEBVIEW2_SNAPSHOT_SIZE; without it, the view's bounds, times its
// rasterization scale when the bounds are taken as layout pixels.
void snapshotSize(int boundsWidth, int boundsHeight, int& width, int& height) {
    width = boundsWidth;
    height = boundsHeight;
    const std::string size = environmentVariable("CV_WEBVIEW2_SNAPSHOT_SIZE");
    int w = 0, h = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
        width = w;
        height = h;
    }
}

// The picture as a PNG into the stream; needs COM on this thread.
HRESULT writeSnapshotPng(IStream* stream, int width, int height, unsigned serial, bool errorPage) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    const std::vector<std::uint8_t> pixels = snapshot_pattern::bgra(width, height, serial, errorPage);
    return wic_png::encodeBgra(factory.Get(), stream, pixels.data(), pixels.size(), width, height);
}

// Standard base64 with padding, as DevTools sends pictures.
std::string base64(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) |
                                    (i + 1 < bytes.size() ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                    (i + 2 < bytes.size() ? std::uint32_t{bytes[i + 2]} : 0);
        text += digits[(group >> 18) & 63];
        text += digits[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? digits[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? digits[group & 63] : '=';
    }
    return text;
}

// The picture numbered `serial` as PNG bytes; empty when it cannot be made.
std::vector<std::uint8_t> pictureBytes(int width, int height, unsigned serial) {
    ComPtr<IStream> stream;
    STATSTG stat{};
    HGLOBAL memory = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf())) ||
        FAILED(writeSnapshotPng(stream.Get(), width, height, serial, false)) ||
        FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || FAILED(GetHGlobalFromStream(stream.Get(), &memory)))
        return {};
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(memory));
    if (data == nullptr) return {};
    std::vector<std::uint8_t> bytes(data, data + stat.cbSize.QuadPart);
    GlobalUnlock(memory);
    return bytes;
}

// A screencast's page paints this often (a page with a clock), so that faults on cue after
// the Nth picture come at the pace of the snapshots.
constexpr DWORD kPaintMs = 500;
// A screencast's first frame comes one paint after its start: the page's first picture, the
// snapshot taken at the start, has been decoded by then, as it had before a second snapshot.
constexpr DWORD kFirstPaintMs = kPaintMs;

constexpr DWORD kLateSnapshotMs = 12000;  // past the plugin's 10 s time-out
// The real runtime repeats an unresponsive page's report every few seconds while it hangs.
constexpr ULONGLONG kUnresponsiveRepeatMs = 3000;

// What every call on an object of a browser whose process has exited answers: the objects are
// closed for good ("The WebView automatically moves to the Closed state").
const HRESULT kClosed = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

// slow-bringup=MS: each bring-up step (environment, controller) is answered MS ms late, as a
// runtime starting for the first time takes seconds.
DWORD bringUpDelayMs() { return static_cast<DWORD>(std::max(0, cueNumber("slow-bringup="))); }

class WebView;

// One stand-in browser: what the real runtime's browser process is to the environment, the
// controller and the view made under it. Its faults come on cue, counted by the snapshots it
// has answered; every browser counts from 1, so a fault comes back with each new browser.
struct Browser {
    int id = 0;
    bool exited = false;  // browser-exit: its objects are closed
    int snapshotsAnswered = 0;
    enum class Page { Shown, Crashed, Hung } page = Page::Shown;
    unsigned shownSerial = 0;  // the serial of the last fresh picture it served
    bool answering = true;     // stop-answering: later captures are held
    ULONGLONG unresponsiveToldAt = 0;
    WebView* view = nullptr;  // its view, while that exists
    StandInPage content;      // what the page makes of the plugin's input
    // The view's settings: whether WebView2 shows the page's dialogs itself.
    std::shared_ptr<bool> defaultDialogs = std::make_shared<bool>(true);
    int dialogsOpen = 0;      // the page is blocked while one is
    bool pageLoaded = false;  // a document has been loaded: leaving it may be questioned
    int documentsBehind = 0;  // the documents before this one in the page's history
    // The view's size in pixels, as its controller was given it.
    long width = 768, height = 512;
    double rasterizationScale = 1.0;
    bool scaledBounds = false;  // the bounds are layout pixels, times the rasterization scale
    // Its page's screencast, while one runs: frames when the page paints (every kPaintMs, as a
    // page with a clock), each acknowledged before the next is sent.
    struct Screencast {
        bool running = false;
        bool painting = false;  // a paint is due
        bool awaitingAck = false;
        int maxWidth = 0, maxHeight = 0;
        int frames = 0;
        int lastSession = 0;
    } screencast;

    // The size of its pictures, snapshots and frames.
    void pictureSize(int& pictureWidth, int& pictureHeight) const {
        const double scale = scaledBounds ? rasterizationScale : 1.0;
        snapshotSize(static_cast<int>(width * scale + 0.5), static_cast<int>(height * scale + 0.5), pictureWidth,
                     pictureHeight);
    }

    // True, with the call recorded, when the call must fail because the browser has exited.
    bool refuses(const char* call) const {
        if (!exited) return false;
        record(format("closed %s hr=0x%08lX", call, static_cast<unsigned long>(kClosed)));
        return true;
    }
};

void faultsAfterSnapshot(Browser& browser);

// Numbers the fresh pictures of the whole process, so a picture of a new browser is newer too.
unsigned lastSerial = 0;
int lastBrowserId = 0;

class ProcessFailedArgs final : public ProcessFailedArgsBase, public Counted {
public:
    explicit ProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind) : kind_(kind) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2ProcessFailedEventArgs))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2ProcessFailedEventArgs*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }
    HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = kind_;
        return S_OK;
    }

private:
    COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

class NavigationCompletedArgs final : public NavigationCompletedArgsBase, public Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2NavigationCompletedEventArgs))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2NavigationCompletedEventArgs*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }
    HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* isSuccess) override {
        if (isSuccess == nullptr) return E_POINTER;
        *isSuccess = TRUE;
        return S_OK;
    }
};

class DevToolsEventArgs final : public ICoreWebView2DevToolsProtocolEventReceivedEventArgs, public Counted {
public:
    explicit DevToolsEventArgs(std::wstring json) : json_(std::move(json)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2DevToolsProtocolEventReceivedEventArgs))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2DevToolsProtocolEventReceivedEventArgs*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }
    // As the runtime hands strings over: the caller frees it with CoTaskMemFree.
    HRESULT STDMETHODCALLTYPE get_ParameterObjectAsJson(LPWSTR* json) override {
        if (json == nullptr) return E_POINTER;
        const std::size_t bytes = (json_.size() + 1) * sizeof(wchar_t);
        *json = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (*json == nullptr) return E_OUTOFMEMORY;
        std::memcpy(*json, json_.c_str(), bytes);
        return S_OK;
    }

private:
    std::wstring json_;
};

std::wstring widen(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring out(static_cast<std::size_t>(size - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
    return out;
}

// One DevTools event's receiver: the handlers the client registered on it.
class DevToolsEventReceiver final : public DevToolsEventReceiverBase, public Counted {
public:
    DevToolsEventReceiver(std::string event, std::shared_ptr<Browser> browser)
        : event_(std::move(event)), browser_(std::move(browser)) {}
    ~DevToolsEventReceiver() override {
        if (!handlers_.empty())
            record(format("receiver %s released with %d handler(s) registered", event_.c_str(),
                          static_cast<int>(handlers_.size())));
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2DevToolsProtocolEventReceiver))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2DevToolsProtocolEventReceiver*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE add_DevToolsProtocolEventReceived(IUnknown* handler, WebView2EventToken* token) override {
        checkThread("add_DevToolsProtocolEventReceived");
        if (handler == nullptr || token == nullptr) return E_INVALIDARG;
        if (browser_->refuses("add_DevToolsProtocolEventReceived")) return kClosed;
        ComPtr<IUnknown> typed;
        if (FAILED(handler->QueryInterface(IID_ICoreWebView2DevToolsProtocolEventReceivedEventHandler,
                                           reinterpret_cast<void**>(typed.GetAddressOf())))) {
            record("add DevToolsProtocolEventReceived refused: not a handler of that event");
            return E_NOINTERFACE;
        }
        token->value = ++lastToken_;
        handlers_[token->value] = typed;
        record(format("add DevToolsProtocolEventReceived %s token=%lld", event_.c_str(),
                      static_cast<long long>(token->value)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_DevToolsProtocolEventReceived(WebView2EventToken token) override {
        checkThread("remove_DevToolsProtocolEventReceived");
        if (browser_->refuses("remove_DevToolsProtocolEventReceived")) return kClosed;
        const bool known = handlers_.erase(token.value) > 0;
        record(format("remove DevToolsProtocolEventReceived %s token=%lld%s", event_.c_str(),
                      static_cast<long long>(token.value), known ? "" : " unknown"));
        return S_OK;
    }

    const std::string& event() const { return event_; }

    // Tells every handler, through the client's message queue, the event with these parameters.
    void raise(HWND client, ICoreWebView2* sender, const std::string& json) {
        for (const auto& [token, handler] : handlers_) {
            Completion completion;
            completion.what = "devtools-event " + event_;
            completion.client = client;
            completion.handler = handler;
            completion.answer = [receiver = ComPtr<DevToolsEventReceiver>(this), token = token,
                                 sender = ComPtr<ICoreWebView2>(sender), json](Completion& c) {
                if (!receiver->handlers_.count(token)) {
                    record("devtools-event not told: the handler was removed");
                    return S_OK;
                }
                const auto args = adoptComReference<ICoreWebView2DevToolsProtocolEventReceivedEventArgs>(
                    new DevToolsEventArgs(widen(json)));
                return handlerOf<ICoreWebView2DevToolsProtocolEventReceivedEventHandler>(c)->Invoke(sender.Get(),
                                                                                                    args.Get());
            };
            owe(std::move(completion));
        }
    }

    // A browser process that exits lets go of every handler.
    void close() { handlers_.clear(); }

private:
    using Handlers = std::map<std::int64_t, ComPtr<IUnknown>>;
    std::string event_;
    std::shared_ptr<Browser> browser_;
    std::int64_t lastToken_ = 0;
    Handlers handlers_;
};

const char* kindName(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
    switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED: return "browser-exit";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED: return "render-exit";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE: return "render-hang";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED: return "gpu-exit";
    default: return "other";
    }
}

class WebView final : public WebViewBase, public Counted {
public:
    WebView(HWND client, std::shared_ptr<Browser> browser) : client_(client), browser_(std::move(browser)) {
        browser_->view = this;
    }
    ~WebView() override {
        if (browser_->view == this) browser_->view = nullptr;
        // What the client never removed goes with the view.
        const std::size_t left = processFailed_.size() + navigationCompleted_.size() + scriptDialog_.size() +
                                 newWindow_.size() + permission_.size() + download_.size();
        if (left > 0) record(format("view released with %d handler(s) registered", static_cast<int>(left)));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2) && !IsEqualIID(id, IID_ICoreWebView2_4))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2_4*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        checkThread("navigate");
        if (browser_->refuses("navigate")) return kClosed;
        record("navigate " + narrow(uri));
        // leave-question: the page asks before it is left, and stays unless the answer is to leave.
        if (cue("leave-question") && browser_->pageLoaded && browser_->page == Browser::Page::Shown) {
            openDialog(COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD, [view = ComPtr<WebView>(this)](bool leave) {
                if (leave)
                    view->load();
                else
                    record("navigation stayed: the page was not left");
            });
            return S_OK;
        }
        // slow-navigation=MS: the new document comes MS ms later, as a real browser's does.
        if (const int late = cueNumber("slow-navigation="); late > 0) {
            Completion completion;
            completion.what = "navigation";
            completion.client = client_;
            completion.answer = [view = ComPtr<WebView>(this)](Completion&) {
                view->load();
                return S_OK;
            };
            owe(std::move(completion), static_cast<DWORD>(late));
            return S_OK;
        }
        load();
        return S_OK;
    }

    // The page's history: each navigation puts the document before it behind; going back
    // takes the last of them, recorded as "go-back".
    HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* canGoBack) override {
        checkThread("can-go-back");
        if (canGoBack == nullptr) return E_POINTER;
        *canGoBack = browser_->documentsBehind > 0 ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GoBack() override {
        checkThread("go-back");
        if (browser_->refuses("go-back")) return kClosed;
        if (browser_->documentsBehind == 0) {
            record("go-back with nothing behind");
            return S_OK;
        }
        record("go-back");
        --browser_->documentsBehind;
        load(false);
        return S_OK;
    }

    // The navigation goes on: a new document (one from the history when going back).
    void load(bool forward = true) {
        if (forward && browser_->pageLoaded) ++browser_->documentsBehind;
        browser_->pageLoaded = true;
        // A navigation gets the page a new process: one that crashed or hangs is replaced.
        if (browser_->page != Browser::Page::Shown) {
            browser_->page = Browser::Page::Shown;
            record("page process replaced");
        }
        browser_->content.navigated();
        tellFocusReports();
        for (const auto& [token, handler] : navigationCompleted_) raiseNavigationCompleted(token, handler);
    }

    HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
        checkThread("settings");
        if (settings == nullptr) return E_POINTER;
        *settings = nullptr;
        if (browser_->refuses("get_Settings")) return kClosed;
        *settings = makeSettings(browser_->defaultDialogs).Detach();
        return S_OK;
    }

    // The page opens a dialog and is blocked until its outcome is settled; `then` learns
    // whether it was accepted. WebView2 raises ScriptDialogOpening only with its own dialogs
    // turned off; with them on, its dialog goes to the desktop and the page waits there.
    void openDialog(COREWEBVIEW2_SCRIPT_DIALOG_KIND kind, std::function<void(bool)> then = {}) {
        auto answer = std::make_shared<DialogAnswer>();
        answer->kind = kind;
        switch (kind) {
        case COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT: answer->message = "Sign-in failed"; break;
        case COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM: answer->message = "Log this flight?"; break;
        case COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT:
            answer->message = "Flight number?";
            answer->defaultText = "AB";
            break;
        default: break;
        }
        const char* name = dialogKindName(kind);
        ++browser_->dialogsOpen;
        if (*browser_->defaultDialogs) {
            record(format("script-dialog %s shown by WebView2 on the desktop", name));
            return;
        }
        auto outcome = std::make_shared<PendingOutcome>();
        outcome->settle = [browser = browser_, answer, outcome = outcome.get(), then = std::move(then), name] {
            --browser->dialogsOpen;
            record(format("script-dialog %s answered accept=%d result=%s deferred=%d", name, answer->accepted ? 1 : 0,
                          answer->resultText.c_str(), outcome->deferred ? 1 : 0));
            if (then) then(answer->accepted);
        };
        record(format("script-dialog %s opened", name));
        if (scriptDialog_.empty()) return outcome->handlersReturned();
        raisePageEvent<ICoreWebView2ScriptDialogOpeningEventHandler>("dialog-opening", scriptDialog_,
                                                                     makeDialogArgs(answer, outcome), outcome);
    }

    // window.open: no window is made unless the handlers give one or leave it unhandled.
    void requestNewWindow(const std::string& uri) {
        auto answer = std::make_shared<NewWindowAnswer>();
        answer->uri = uri;
        auto outcome = std::make_shared<PendingOutcome>();
        outcome->settle = [answer] {
            record("new-window " + answer->uri +
                   (answer->windowGiven ? " shown in the view given"
                    : answer->handled   ? " handled: no window"
                                        : " opened on the desktop"));
        };
        record("new-window " + uri + " requested");
        if (newWindow_.empty()) return outcome->handlersReturned();
        raisePageEvent<ICoreWebView2NewWindowRequestedEventHandler>("new-window-requested", newWindow_,
                                                                    makeNewWindowArgs(answer, outcome), outcome);
    }

    // A state left at default has WebView2 ask the user on the desktop.
    void requestPermission(COREWEBVIEW2_PERMISSION_KIND kind) {
        auto answer = std::make_shared<PermissionAnswer>();
        answer->kind = kind;
        auto outcome = std::make_shared<PendingOutcome>();
        outcome->settle = [answer] {
            record(
                format("permission kind=%d state=%d", static_cast<int>(answer->kind), static_cast<int>(answer->state)));
        };
        record(format("permission kind=%d requested", static_cast<int>(kind)));
        if (permission_.empty()) return outcome->handlersReturned();
        raisePageEvent<ICoreWebView2PermissionRequestedEventHandler>("permission-requested", permission_,
                                                                     makePermissionArgs(answer, outcome), outcome);
    }

    // A download goes on, with WebView2's download UI, unless the handlers cancel it.
    void requestDownload() {
        auto answer = std::make_shared<DownloadAnswer>();
        auto outcome = std::make_shared<PendingOutcome>();
        outcome->settle = [answer] {
            record(format("download cancel=%d handled=%d", answer->cancel ? 1 : 0, answer->handled ? 1 : 0));
        };
        record("download requested");
        if (download_.empty()) return outcome->handlersReturned();
        raisePageEvent<ICoreWebView2DownloadStartingEventHandler>("download-starting", download_,
                                                                  makeDownloadArgs(answer, outcome), outcome);
    }

    // Every call is recorded with its parameters as the client sent them, and answered with an
    // empty result through the client's message queue.
    HRESULT STDMETHODCALLTYPE
    CallDevToolsProtocolMethod(LPCWSTR methodName, LPCWSTR parametersAsJson,
                               ICoreWebView2CallDevToolsProtocolMethodCompletedHandler* handler) override {
        checkThread("devtools");
        if (methodName == nullptr || parametersAsJson == nullptr || handler == nullptr) return E_INVALIDARG;
        if (browser_->refuses("CallDevToolsProtocolMethod")) return kClosed;
        const std::string method = narrow(methodName);
        const std::string text = narrow(parametersAsJson);
        const nlohmann::json params = nlohmann::json::parse(text, nullptr, false);
        if (!params.is_object()) {
            record("devtools " + method + " refused: parameters that are no JSON object: " + text);
            return E_INVALIDARG;
        }
        record("devtools " + method + " " + params.dump());
        browser_->content.command(method, params);
        HRESULT answer = S_OK;
        const bool screencast = method.rfind("Page.s", 0) == 0 && screencastCommand(method, params, answer);
        Completion completion;
        completion.what = "devtools";
        completion.client = client_;
        completion.handler = handler;
        completion.answer = [answer](Completion& c) {
            return handlerOf<ICoreWebView2CallDevToolsProtocolMethodCompletedHandler>(c)->Invoke(answer, L"{}");
        };
        // hold-devtools holds what sets the page up, not its screencast.
        if (cue("hold-devtools") && !screencast)
            oweHeld(std::move(completion));
        else
            owe(std::move(completion));
        // The first frame comes after the answer to the start, once the page has been painted;
        // a still page's only one.
        if (screencast && browser_->screencast.running && !cue("screencast-silent") &&
            (method == "Page.startScreencast" || !cue("screencast-still")))
            schedulePaint(kFirstPaintMs);
        tellFocusReports();
        return S_OK;
    }

    // Page.startScreencast (refused with screencast-refused), Page.stopScreencast and
    // Page.screencastFrameAck; false for any other method. `answer` is the call's result.
    bool screencastCommand(const std::string& method, const nlohmann::json& params, HRESULT& answer) {
        auto& cast = browser_->screencast;
        if (method == "Page.startScreencast") {
            if (cue("screencast-refused")) {
                record("screencast-refused");
                answer = E_FAIL;
                return true;
            }
            cast.maxWidth = params.value("maxWidth", 0);
            cast.maxHeight = params.value("maxHeight", 0);
            record(format("screencast-start format=%s quality=%d max=%dx%d",
                          params.value("format", std::string("png")).c_str(), params.value("quality", 0), cast.maxWidth,
                          cast.maxHeight));
            cast.running = true;
            cast.awaitingAck = false;
        } else if (method == "Page.stopScreencast") {
            record("screencast-stop");
            cast.running = false;
        } else if (method == "Page.screencastFrameAck") {
            record(format("screencast-ack %d", params.value("sessionId", -1)));
            cast.awaitingAck = false;
        } else {
            return false;
        }
        return true;
    }

    // The page paints for its screencast now, or `delayMs` later, then every kPaintMs while
    // the screencast runs and the view exists.
    void schedulePaint(DWORD delayMs) {
        if (browser_->screencast.painting) return;
        browser_->screencast.painting = true;
        Completion completion;
        completion.what = "paint";
        completion.client = client_;
        completion.quiet = true;
        completion.answer = [browser = browser_](Completion&) {
            browser->screencast.painting = false;
            if (browser->view != nullptr) browser->view->paint();
            return S_OK;
        };
        owe(std::move(completion), delayMs);
    }

    void paint() {
        auto& cast = browser_->screencast;
        if (!cast.running || browser_->exited) return;
        // A page that is gone, hangs or waits for its dialog's answer paints nothing; a frame not
        // yet acknowledged holds the next.
        if (browser_->page == Browser::Page::Shown && browser_->answering && browser_->dialogsOpen == 0 &&
            !cast.awaitingAck)
            sendFrame();
        // A still page paints once for each start of its screencast, and never again.
        if (cast.running && browser_->view == this && !cue("screencast-still")) schedulePaint(kPaintMs);
    }

    // A fresh picture as a Page.screencastFrame, no larger than the screencast asked; it counts
    // as a snapshot for the faults on cue.
    void sendFrame() {
        auto& cast = browser_->screencast;
        int width = 0, height = 0;
        browser_->pictureSize(width, height);
        if (cast.maxWidth > 0 && cast.maxHeight > 0) {
            const double fit = std::min(
                {1.0, static_cast<double>(cast.maxWidth) / width, static_cast<double>(cast.maxHeight) / height});
            width = static_cast<int>(width * fit + 0.5);
            height = static_cast<int>(height * fit + 0.5);
        }
        const unsigned serial = ++lastSerial;
        const std::vector<std::uint8_t> png = pictureBytes(width, height, serial);
        if (png.empty()) return record("screencast-frame failed");
        browser_->shownSerial = serial;
        cast.awaitingAck = true;
        const int frame = ++cast.frames;
        record(format("picture serial=%u", serial));
        record(format("screencast-frame %d %dx%d", frame, width, height));
        const nlohmann::json params = {
            {"data", base64(png)},
            {"metadata", {{"deviceWidth", width}, {"deviceHeight", height}, {"offsetTop", 0}, {"pageScaleFactor", 1}}},
            {"sessionId", ++cast.lastSession}};
        raiseDevToolsEvent("Page.screencastFrame", params.dump());
        if (cueNumber("screencast-hidden@") == frame) {
            record("screencast-hidden");
            raiseDevToolsEvent("Page.screencastVisibilityChanged", R"({"visible":false})");
        }
        faultsAfterSnapshot(*browser_);
    }

    void raiseDevToolsEvent(const std::string& event, const std::string& json) {
        for (const auto& receiver : receivers_)
            if (receiver->event() == event) receiver->raise(client_, this, json);
    }

    HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(
        LPCWSTR eventName, ICoreWebView2DevToolsProtocolEventReceiver** receiver) override {
        checkThread("devtools-receiver");
        if (eventName == nullptr || receiver == nullptr) return E_INVALIDARG;
        *receiver = nullptr;
        if (browser_->refuses("GetDevToolsProtocolEventReceiver")) return kClosed;
        record("devtools-receiver " + narrow(eventName));
        auto made = adoptComReference<DevToolsEventReceiver>(new DevToolsEventReceiver(narrow(eventName), browser_));
        receivers_.push_back(made);
        *receiver = made.Get();
        made->AddRef();
        return S_OK;
    }

    // The page's focus reports made since the last call, to every Runtime.bindingCalled
    // receiver, as the binding's calls.
    void tellFocusReports() {
        for (const std::string& payload : browser_->content.takeReports()) {
            record("focus-report " + payload);
            const nlohmann::json params = {{"name", "cvTextFocus"}, {"payload", payload}, {"executionContextId", 1}};
            for (const auto& receiver : receivers_)
                if (receiver->event() == "Runtime.bindingCalled") receiver->raise(client_, this, params.dump());
        }
    }

    HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("ScriptDialogOpening", IID_ICoreWebView2ScriptDialogOpeningEventHandler, handler, token,
                          scriptDialog_);
    }
    HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(WebView2EventToken token) override {
        return removeHandler("ScriptDialogOpening", token, scriptDialog_);
    }
    HRESULT STDMETHODCALLTYPE add_NewWindowRequested(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("NewWindowRequested", IID_ICoreWebView2NewWindowRequestedEventHandler, handler, token,
                          newWindow_);
    }
    HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(WebView2EventToken token) override {
        return removeHandler("NewWindowRequested", token, newWindow_);
    }
    HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("PermissionRequested", IID_ICoreWebView2PermissionRequestedEventHandler, handler, token,
                          permission_);
    }
    HRESULT STDMETHODCALLTYPE remove_PermissionRequested(WebView2EventToken token) override {
        return removeHandler("PermissionRequested", token, permission_);
    }
    HRESULT STDMETHODCALLTYPE add_DownloadStarting(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("DownloadStarting", IID_ICoreWebView2DownloadStartingEventHandler, handler, token, download_);
    }
    HRESULT STDMETHODCALLTYPE remove_DownloadStarting(WebView2EventToken token) override {
        return removeHandler("DownloadStarting", token, download_);
    }
    HRESULT STDMETHODCALLTYPE add_NavigationCompleted(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("NavigationCompleted", IID_ICoreWebView2NavigationCompletedEventHandler, handler, token,
                          navigationCompleted_);
    }
    HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(WebView2EventToken token) override {
        return removeHandler("NavigationCompleted", token, navigationCompleted_);
    }
    HRESULT STDMETHODCALLTYPE add_ProcessFailed(IUnknown* handler, WebView2EventToken* token) override {
        return addHandler("ProcessFailed", IID_ICoreWebView2ProcessFailedEventHandler, handler, token, processFailed_);
    }
    HRESULT STDMETHODCALLTYPE remove_ProcessFailed(WebView2EventToken token) override {
        return removeHandler("ProcessFailed", token, processFailed_);
    }

    HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat,
                                             IStream* imageStream,
                                             ICoreWebView2CapturePreviewCompletedHandler* handler) override {
        checkThread("capture");
        if (imageStream == nullptr || handler == nullptr) return E_INVALIDARG;
        if (browser_->refuses("capture")) return kClosed;
        if (cue("refuse-snapshot")) {
            record("capture refused");
            return E_FAIL;
        }
        record(format("capture requested format=%d", static_cast<int>(imageFormat)));
        if (browser_->dialogsOpen > 0) record("capture while the page's dialog is open");
        recordHeld(browser_->id);
        if (browser_->page == Browser::Page::Hung &&
            GetTickCount64() - browser_->unresponsiveToldAt >= kUnresponsiveRepeatMs)
            failProcess(COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE);
        Completion completion;
        completion.what = "capture";
        completion.client = client_;
        completion.handler = handler;
        completion.object = imageStream;
        completion.answer = [imageFormat, browser = browser_](Completion& c) {
            HRESULT result = E_FAIL;
            int width = 0, height = 0;
            browser->pictureSize(width, height);
            if (cue("fail-snapshot")) {
                record("capture failed");
            } else if (imageFormat != COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG) {
                record("capture failed: only PNG is served");
            } else {
                // A hung page shows what it showed last; a crashed one the error page.
                const bool errorPage = browser->page == Browser::Page::Crashed;
                if (browser->page == Browser::Page::Shown) browser->shownSerial = ++lastSerial;
                record(errorPage ? std::string("picture error-page")
                                 : format("picture serial=%u", browser->shownSerial));
                result = writeSnapshotPng(static_cast<IStream*>(c.object.Get()), width, height, browser->shownSerial,
                                          errorPage);
                record(format("capture done %dx%d hr=0x%08lX", width, height, static_cast<unsigned long>(result)));
            }
            const HRESULT returned = handlerOf<ICoreWebView2CapturePreviewCompletedHandler>(c)->Invoke(result);
            faultsAfterSnapshot(*browser);
            return returned;
        };
        if (!browser_->answering) {
            completion.browser = browser_->id;
            oweHeld(std::move(completion));
        } else if (cue("hold-snapshots")) {
            oweHeld(std::move(completion));
        } else if (cue("late-first-snapshot") && ++captures_ == 1) {
            record(format("capture delayed %lu s", kLateSnapshotMs / 1000));
            completion.what = "delayed capture";
            owe(std::move(completion), kLateSnapshotMs);
        } else {
            owe(std::move(completion));
        }
        return S_OK;
    }

    // Tells the client's ProcessFailed handlers, through its message queue as the runtime does.
    // A browser process that exits closes the view: it is told once more, then lets go of
    // every handler.
    void failProcess(COREWEBVIEW2_PROCESS_FAILED_KIND kind) {
        const bool closing = kind == COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
        if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE)
            browser_->unresponsiveToldAt = GetTickCount64();
        if (processFailed_.empty()) record(format("process-failed kind=%d told to nobody", static_cast<int>(kind)));
        for (const auto& [token, handler] : processFailed_) {
            Completion completion;
            completion.what = format("process-failed kind=%d", static_cast<int>(kind));
            completion.client = client_;
            completion.handler = handler;
            completion.answer = [view = ComPtr<WebView>(this), token = token, kind, closing](Completion& c) {
                if (!closing && !view->processFailed_.count(token)) {
                    record("process-failed not told: the handler was removed");
                    return S_OK;
                }
                const auto args = adoptComReference<ICoreWebView2ProcessFailedEventArgs>(new ProcessFailedArgs(kind));
                return handlerOf<ICoreWebView2ProcessFailedEventHandler>(c)->Invoke(view.Get(), args.Get());
            };
            owe(std::move(completion));
        }
        if (closing) {
            processFailed_.clear();
            navigationCompleted_.clear();
            scriptDialog_.clear();
            newWindow_.clear();
            permission_.clear();
            download_.clear();
            for (const auto& receiver : receivers_) receiver->close();
        }
    }

private:
    using Handlers = std::map<std::int64_t, ComPtr<IUnknown>>;

    HRESULT addHandler(const char* event, const IID& handlerId, IUnknown* handler, WebView2EventToken* token,
                       Handlers& handlers) {
        checkThread(event);
        if (handler == nullptr || token == nullptr) return E_INVALIDARG;
        if (browser_->refuses((std::string("add_") + event).c_str())) return kClosed;
        // The runtime calls the handler through its own interface: the client must pass one.
        ComPtr<IUnknown> typed;
        if (FAILED(handler->QueryInterface(handlerId, reinterpret_cast<void**>(typed.GetAddressOf())))) {
            record(std::string("add ") + event + " refused: not a handler of that event");
            return E_NOINTERFACE;
        }
        token->value = ++lastToken_;
        handlers[token->value] = typed;
        record(format("add %s token=%lld", event, static_cast<long long>(token->value)));
        return S_OK;
    }

    HRESULT removeHandler(const char* event, WebView2EventToken token, Handlers& handlers) {
        checkThread(event);
        if (browser_->refuses((std::string("remove_") + event).c_str())) return kClosed;
        const bool known = handlers.erase(token.value) > 0;
        record(format("remove %s token=%lld%s", event, static_cast<long long>(token.value), known ? "" : " unknown"));
        return S_OK;
    }

    // Tells a page's event, through the client's message queue, to every handler registered for
    // it then; its outcome is settled once they have returned, unless one took the deferral.
    template <class Handler, class Args>
    void raisePageEvent(const char* what, Handlers& handlers, ComPtr<Args> args,
                        std::shared_ptr<PendingOutcome> outcome) {
        Completion completion;
        completion.what = what;
        completion.client = client_;
        completion.handler = handlers.begin()->second;
        completion.answer = [view = ComPtr<WebView>(this), &handlers, args, outcome](Completion&) {
            HRESULT result = S_OK;
            const Handlers registered = handlers;  // a handler may remove itself
            for (const auto& [token, handler] : registered) {
                const HRESULT returned = static_cast<Handler*>(handler.Get())->Invoke(view.Get(), args.Get());
                if (FAILED(returned)) result = returned;
            }
            outcome->handlersReturned();
            return result;
        };
        owe(std::move(completion));
    }

    void raiseNavigationCompleted(std::int64_t token, const ComPtr<IUnknown>& handler) {
        Completion completion;
        completion.what = "navigation-completed";
        completion.client = client_;
        completion.handler = handler;
        completion.answer = [view = ComPtr<WebView>(this), token](Completion& c) {
            if (!view->navigationCompleted_.count(token)) {
                record("navigation-completed not told: the handler was removed");
                return S_OK;
            }
            const auto args =
                adoptComReference<ICoreWebView2NavigationCompletedEventArgs>(new NavigationCompletedArgs());
            return handlerOf<ICoreWebView2NavigationCompletedEventHandler>(c)->Invoke(view.Get(), args.Get());
        };
        owe(std::move(completion));
    }

    HWND client_;
    std::shared_ptr<Browser> browser_;
    int captures_ = 0;
    std::int64_t lastToken_ = 0;
    Handlers processFailed_;
    Handlers navigationCompleted_;
    Handlers scriptDialog_;
    Handlers newWindow_;
    Handlers permission_;
    Handlers download_;
    std::vector<ComPtr<DevToolsEventReceiver>> receivers_;
};

// What the page asks on cue right after the browser has answered its Nth snapshot.
void pageRequestsAfterSnapshot(WebView& view, int answered) {
    auto due = [answered](const char* name) { return cue(format("%s@%d", name, answered).c_str()); };
    const std::pair<const char*, COREWEBVIEW2_SCRIPT_DIALOG_KIND> dialogs[] = {
        {"dialog-alert", COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT},
        {"dialog-confirm", COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM},
        {"dialog-prompt", COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT},
        {"dialog-leave", COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD},
    };
    for (const auto& [name, kind] : dialogs)
        if (due(name)) view.openDialog(kind);
    if (due("new-window")) {
        const std::string uri = environmentVariable("CV_WEBVIEW2_NEW_WINDOW");
        view.requestNewWindow(uri.empty() ? "https://panel.example/logbook" : uri);
    }
    if (due("download")) view.requestDownload();
    if (due("permission")) {
        std::stringstream kinds(environmentVariable("CV_WEBVIEW2_PERMISSIONS"));
        std::string kind;
        bool any = false;
        while (std::getline(kinds, kind, ',')) {
            view.requestPermission(static_cast<COREWEBVIEW2_PERMISSION_KIND>(std::atoi(kind.c_str())));
            any = true;
        }
        if (!any) view.requestPermission(COREWEBVIEW2_PERMISSION_KIND_CAMERA);
    }
}

// The faults on cue that come right after the browser has answered its Nth snapshot.
void faultsAfterSnapshot(Browser& browser) {
    const int answered = ++browser.snapshotsAnswered;
    auto due = [answered](const char* name) { return cueNumber(name) == answered; };
    if (due("stop-answering@")) {
        browser.answering = false;
        record(format("stop-answering browser=%d snapshot=%d", browser.id, answered));
    }
    WebView* const view = browser.view;
    if (view == nullptr) return;  // nothing left to fail
    pageRequestsAfterSnapshot(*view, answered);
    const std::pair<const char*, COREWEBVIEW2_PROCESS_FAILED_KIND> faults[] = {
        {"gpu-exit@", COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED},
        {"render-exit@", COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED},
        {"render-hang@", COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE},
        {"browser-exit@", COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED},
    };
    for (const auto& [name, kind] : faults) {
        if (!due(name)) continue;
        record(format("%s browser=%d snapshot=%d", kindName(kind), browser.id, answered));
        if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED) browser.page = Browser::Page::Crashed;
        if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE) browser.page = Browser::Page::Hung;
        if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED) browser.exited = true;
        view->failProcess(kind);
    }
}

class Controller final : public ControllerBase, public CompositionControllerBase, public Counted {
public:
    Controller(HWND client, std::shared_ptr<Browser> browser) : client_(client), browser_(std::move(browser)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ICoreWebView2Controller))
            *object = static_cast<ICoreWebView2Controller*>(this);
        else if (IsEqualIID(id, IID_ICoreWebView2Controller3))
            *object = static_cast<ICoreWebView2Controller3*>(this);
        else if (IsEqualIID(id, IID_ICoreWebView2CompositionController))
            *object = static_cast<ICoreWebView2CompositionController*>(this);
        else
            return E_NOINTERFACE;
        addReference();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) override {
        if (isVisible == nullptr) return E_POINTER;
        if (browser_->refuses("get_IsVisible")) return kClosed;
        *isVisible = visible_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) override {
        checkThread("visible");
        if (browser_->refuses("put_IsVisible")) return kClosed;
        visible_ = isVisible;
        record(format("visible %d", static_cast<int>(isVisible)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
        if (bounds == nullptr) return E_POINTER;
        if (browser_->refuses("get_Bounds")) return kClosed;
        *bounds = bounds_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        checkThread("bounds");
        if (browser_->refuses("put_Bounds")) return kClosed;
        bounds_ = bounds;
        browser_->width = bounds.right - bounds.left;
        browser_->height = bounds.bottom - bounds.top;
        record(format("bounds %ld,%ld,%ld,%ld", bounds.left, bounds.top, bounds.right, bounds.bottom));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_RasterizationScale(double* scale) override {
        if (scale == nullptr) return E_POINTER;
        if (browser_->refuses("get_RasterizationScale")) return kClosed;
        *scale = browser_->rasterizationScale;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_RasterizationScale(double scale) override {
        checkThread("rasterization-scale");
        if (browser_->refuses("put_RasterizationScale")) return kClosed;
        record(format("rasterization-scale %f", scale));
        if (!(scale > 0.0)) return E_INVALIDARG;
        browser_->rasterizationScale = scale;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ShouldDetectMonitorScaleChanges(BOOL detect) override {
        checkThread("detect-monitor-scale");
        if (browser_->refuses("put_ShouldDetectMonitorScaleChanges")) return kClosed;
        record(format("detect-monitor-scale %d", static_cast<int>(detect)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_BoundsMode(COREWEBVIEW2_BOUNDS_MODE mode) override {
        checkThread("bounds-mode");
        if (browser_->refuses("put_BoundsMode")) return kClosed;
        record(format("bounds-mode %d", static_cast<int>(mode)));
        browser_->scaledBounds = mode == COREWEBVIEW2_BOUNDS_MODE_USE_RASTERIZATION_SCALE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* zoomFactor) override {
        if (zoomFactor == nullptr) return E_POINTER;
        if (browser_->refuses("get_ZoomFactor")) return kClosed;
        *zoomFactor = zoom_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double zoomFactor) override {
        checkThread("zoom");
        if (browser_->refuses("put_ZoomFactor")) return kClosed;
        record(format("zoom %f", zoomFactor));
        // The browser refuses factors it cannot show and keeps the one it had.
        if (!(zoomFactor > 0.0)) return E_INVALIDARG;
        zoom_ = zoomFactor;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) override {
        if (coreWebView2 == nullptr) return E_POINTER;
        *coreWebView2 = nullptr;
        if (browser_->refuses("get_CoreWebView2")) return kClosed;
        if (cue("no-view")) {
            record("view none");
            return S_OK;
        }
        if (!view_) view_ = adoptComReference<ICoreWebView2>(new WebView(client_, browser_));
        *coreWebView2 = view_.Get();
        view_->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND eventKind,
                                             COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS virtualKeys, UINT32 mouseData,
                                             POINT point) override {
        checkThread("mouse");
        if (browser_->refuses("SendMouseInput")) return kClosed;
        record(format("mouse kind=0x%X keys=%d data=%u x=%ld y=%ld", static_cast<unsigned>(eventKind),
                      static_cast<int>(virtualKeys), static_cast<unsigned>(mouseData), point.x, point.y));
        if (eventKind == COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_UP) {
            browser_->content.leftButtonReleased(point.x, point.y);
            if (browser_->view != nullptr) browser_->view->tellFocusReports();
        }
        return S_OK;
    }

private:
    HWND client_;
    std::shared_ptr<Browser> browser_;
    BOOL visible_ = FALSE;
    RECT bounds_{};
    double zoom_ = 1.0;
    ComPtr<ICoreWebView2> view_;
};

std::string describeWindow(HWND window) {
    if (window == nullptr) return "parent=none";
    wchar_t className[128] = {};
    wchar_t title[128] = {};
    GetClassNameW(window, className, 128);
    GetWindowTextW(window, title, 128);
    RECT rect{};
    GetWindowRect(window, &rect);
    return format("parent-class=%s parent-title=%s parent-size=%ldx%ld parent-visible=%d", narrow(className).c_str(),
                  narrow(title).c_str(), rect.right - rect.left, rect.bottom - rect.top,
                  IsWindowVisible(window) ? 1 : 0);
}

class Environment final : public EnvironmentBase, public Counted {
public:
    explicit Environment(std::shared_ptr<Browser> browser) : browser_(std::move(browser)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        const bool newer =
            IsEqualIID(id, IID_ICoreWebView2Environment2) || IsEqualIID(id, IID_ICoreWebView2Environment3);
        if (newer && cue("no-environment3")) return E_NOINTERFACE;
        if (!newer && !IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2Environment))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2Environment3*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE CreateCoreWebView2CompositionController(
        HWND parentWindow, ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler* handler) override {
        checkThread("create-controller");
        if (handler == nullptr) return E_INVALIDARG;
        if (browser_->refuses("CreateCoreWebView2CompositionController")) return kClosed;
        record("create-controller " + describeWindow(parentWindow) + " apartment=" + apartment());
        if (cue("refuse-controller")) {
            record("controller refused");
            return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
        }
        Completion completion;
        completion.what = "controller";
        completion.client = parentWindow;
        completion.handler = handler;
        completion.answer = [parentWindow, browser = browser_](Completion& c) {
            auto* handler = handlerOf<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler>(c);
            if (cue("fail-controller")) {
                record("controller failed");
                return handler->Invoke(E_FAIL, nullptr);
            }
            c.object = adoptComReference<IUnknown>(
                static_cast<ICoreWebView2Controller*>(new Controller(parentWindow, browser)));
            ComPtr<ICoreWebView2CompositionController> controller;
            c.object->QueryInterface(IID_ICoreWebView2CompositionController,
                                     reinterpret_cast<void**>(controller.GetAddressOf()));
            record("controller ready");
            return handler->Invoke(S_OK, controller.Get());
        };
        owe(std::move(completion), bringUpDelayMs());
        return S_OK;
    }

private:
    std::shared_ptr<Browser> browser_;
};

// A new browser is asked for: the captures earlier ones left unanswered (stop-answering) are
// answered now, as failed, and come late to a client that has moved on.
void abandonHeldCaptures() {
    for (Completion& completion : takeHeldUpTo(lastBrowserId)) {
        completion.what = "abandoned capture";
        completion.answer = [](Completion& c) {
            return handlerOf<ICoreWebView2CapturePreviewCompletedHandler>(c)->Invoke(E_ABORT);
        };
        owe(std::move(completion));
    }
}

// fail-bringup=N: the first N environment requests of each client fail.
bool bringUpFails() {
    static unsigned long client = 0;
    static int requests = 0;
    if (client != clientSession()) {
        client = clientSession();
        requests = 0;
    }
    return ++requests <= cueNumber("fail-bringup=");
}

}  // namespace

HRESULT createEnvironment(PCWSTR userDataFolder, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    creatorThread();
    watchClient();
    abandonHeldCaptures();
    Completion completion;
    completion.what = "environment";
    completion.client = firstHostWindowOfThisThread();
    completion.handler = handler;
    // deny-default-user-data: the default folder is one the runtime may not write, as beside a
    // simulator installed under Program Files.
    const bool denied = cue("deny-default-user-data") && (userDataFolder == nullptr || userDataFolder[0] == L'\0');
    completion.answer = [failing = bringUpFails(), denied](Completion& c) {
        auto* handler = handlerOf<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(c);
        if (denied) {
            record("environment denied: the default user-data folder");
            return handler->Invoke(E_ACCESSDENIED, nullptr);
        }
        if (failing || cue("fail-environment")) {
            record("environment failed");
            return handler->Invoke(E_FAIL, nullptr);
        }
        auto browser = std::make_shared<Browser>();
        browser->id = ++lastBrowserId;
        c.object = adoptComReference<IUnknown>(static_cast<ICoreWebView2Environment3*>(new Environment(browser)));
        record("environment ready");
        return handler->Invoke(S_OK, static_cast<ICoreWebView2Environment3*>(c.object.Get()));
    };
    owe(std::move(completion), bringUpDelayMs());
    return S_OK;
}

}  // namespace standin
