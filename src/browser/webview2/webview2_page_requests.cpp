// What a page asks of its browser, on Windows. Left to itself WebView2 would show its own
// dialog for alert, confirm, prompt and the leave-page question, and open a new top-level
// window for window.open or a link to a new window: on the pilot's desktop, behind a
// full-screen simulator, or parented to our hidden window where nobody can answer it. So:
// - the view's default dialogs are turned off and each dialog is held with a deferral until
//   the pilot answers it in the panel (the leave-page question of our own periodic reload is
//   answered "leave" at once: the reload is a fresh navigation);
// - a new window is never made: the panel's own page goes to its address (web pages only);
// - permission requests, which nobody in the simulator could answer, are denied, and so are
//   downloads (nobody could see or use the file).
#include <map>
#include <string>
#include <utility>

#include "browser/browser.h"
#include "browser/webview2/webview2_state.h"
#include "platform/com_callback.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

RepeatingLine leftForReload;
std::map<int, RepeatingLine> permissionRefused;
RepeatingLine newWindowRefused;
RepeatingLine downloadRefused;

// A string the browser handed out, taken over and freed.
std::string takeString(LPWSTR text) {
    std::string result = text != nullptr ? toUtf8(text) : std::string();
    CoTaskMemFree(text);
    return result;
}

// Lets the page go on from its dialog: OK (with a prompt's text) or, without Accept, Cancel.
// What completing the deferral returned (a browser that is gone refuses it).
HRESULT settleDialog(WebView2Browser& current, bool accept, const std::string& text) {
    auto args = std::move(current.dialogArgs);
    auto deferral = std::move(current.dialogDeferral);
    if (args && accept) {
        if (!text.empty()) args->put_ResultText(toWide(text).c_str());
        args->Accept();
    }
    return deferral ? deferral->Complete() : S_OK;
}

void onScriptDialog(WebView2Browser& current, ICoreWebView2ScriptDialogOpeningEventArgs* args) {
    if (args == nullptr) return;
    // The page has one dialog at a time; one still owed went with a page that moved on.
    forgetPageDialog(current);
    auto kind = COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT;
    if (FAILED(args->get_Kind(&kind))) return;  // not answered: the page goes on as cancelled
    if (kind == COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD && current.reloadUnderway) {
        if (leftForReload.due()) XPLMDebugString("CV: the page asked before the reload whether to leave it; it was left.\n");
        args->Accept();
        return;
    }
    PageDialogKind shown;
    switch (kind) {
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT: shown = PageDialogKind::Alert; break;
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM: shown = PageDialogKind::Confirm; break;
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT: shown = PageDialogKind::Prompt; break;
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD: shown = PageDialogKind::BeforeUnload; break;
    default:
        // Returning without Accept and without a deferral dismisses it.
        debugLog("CV: the page opened a dialog of an unknown kind (%d); dismissed.\n", static_cast<int>(kind));
        return;
    }
    // Without a deferral the page would go on as soon as we return; without one there is no
    // way to answer later, so the dialog is dismissed rather than left shown for nothing.
    if (FAILED(args->GetDeferral(current.dialogDeferral.ReleaseAndGetAddressOf())) || !current.dialogDeferral) {
        XPLMDebugString("CV: WebView2 would not hold the page's dialog for an answer; dismissed.\n");
        return;
    }
    current.dialogArgs = args;
    LPWSTR message = nullptr, defaultText = nullptr;
    if (FAILED(args->get_Message(&message))) message = nullptr;
    if (shown != PageDialogKind::Prompt || FAILED(args->get_DefaultText(&defaultText))) defaultText = nullptr;
    const std::string messageText = takeString(message);
    onBrowserDialogOpened(shown, messageText, takeString(defaultText));
}

bool isWebAddress(const std::string& uri) { return uri.rfind("https://", 0) == 0 || uri.rfind("http://", 0) == 0; }

void onNewWindow(WebView2Browser& current, ICoreWebView2NewWindowRequestedEventArgs* args) {
    if (args == nullptr) return;
    // Handled, with no window of ours given: WebView2 opens none.
    args->put_Handled(TRUE);
    LPWSTR uri = nullptr;
    const std::string address = SUCCEEDED(args->get_Uri(&uri)) ? takeString(uri) : std::string();
    // Our navigation is not bound by the web's rules: a page could have the panel open a local
    // file or run script in another site. Only web addresses are followed.
    if (!isWebAddress(address)) {
        if (newWindowRefused.due())
            XPLMDebugString("CV: the page opened a new window at an address that is not a web page; it was closed.\n");
        return;
    }
    XPLMDebugString("CV: the page opened a new window; the panel shows its page instead.\n");
    current.webView->Navigate(toWide(address).c_str());
}

const char* permissionName(COREWEBVIEW2_PERMISSION_KIND kind) {
    switch (kind) {
    case COREWEBVIEW2_PERMISSION_KIND_MICROPHONE: return "the microphone";
    case COREWEBVIEW2_PERMISSION_KIND_CAMERA: return "the camera";
    case COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION: return "the location";
    case COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS: return "notifications";
    case COREWEBVIEW2_PERMISSION_KIND_OTHER_SENSORS: return "the sensors";
    case COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ: return "the clipboard";
    default: return "a permission";
    }
}

void onPermission(ICoreWebView2PermissionRequestedEventArgs* args) {
    if (args == nullptr) return;
    auto kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    if (FAILED(args->get_PermissionKind(&kind))) kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    const HRESULT denied = args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
    if (permissionRefused[static_cast<int>(kind)].due())
        debugLog(SUCCEEDED(denied) ? "CV: the page asked for %s; refused.\n"
                                   : "CV: the page asked for %s; it could not be refused.\n",
                 permissionName(kind));
}

void onDownload(ICoreWebView2DownloadStartingEventArgs* args) {
    if (args == nullptr) return;
    // Handled too, so that WebView2 shows no download UI of its own.
    const bool cancelled = SUCCEEDED(args->put_Cancel(TRUE));
    args->put_Handled(TRUE);
    if (downloadRefused.due())
        XPLMDebugString(cancelled ? "CV: refused a download the page started.\n"
                                  : "CV: a download the page started could not be refused.\n");
}

// One handler on the view, told only while its browser is the current one.
template <class Handler, class Args, class Handle>
Microsoft::WRL::ComPtr<Handler> pageHandler(const IID& id, BrowserSession session, const char* what, Handle handle) {
    return makeComCallback<Handler>(id, [session, what, handle](ICoreWebView2*, Args* args) {
        if (!isCurrentBrowser(session)) return S_OK;
        try {
            handle(*browser, args);
        } catch (...) {
            debugLog("CV: error while handling %s\n", what);
        }
        return S_OK;
    });
}

}  // namespace

void listenToPageRequests(WebView2Browser& current) {
    Microsoft::WRL::ComPtr<ICoreWebView2Settings> settings;
    if (FAILED(current.webView->get_Settings(settings.GetAddressOf())) || !settings ||
        FAILED(settings->put_AreDefaultScriptDialogsEnabled(FALSE)))
        XPLMDebugString("CV: WebView2's own dialogs could not be turned off; the page's dialogs may open on the "
                        "desktop.\n");
    const BrowserSession session = current.session;
    WebView2EventToken token{};
    auto dialog = pageHandler<ICoreWebView2ScriptDialogOpeningEventHandler, ICoreWebView2ScriptDialogOpeningEventArgs>(
        IID_ICoreWebView2ScriptDialogOpeningEventHandler, session, "the page's dialog", onScriptDialog);
    if (dialog && SUCCEEDED(current.webView->add_ScriptDialogOpening(dialog.Get(), &token)))
        current.scriptDialogToken = token;
    else
        XPLMDebugString("CV: WebView2 will not pass on the page's dialogs; they cannot be answered in the panel.\n");
    auto window = pageHandler<ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2NewWindowRequestedEventArgs>(
        IID_ICoreWebView2NewWindowRequestedEventHandler, session, "the page's new window", onNewWindow);
    if (window && SUCCEEDED(current.webView->add_NewWindowRequested(window.Get(), &token)))
        current.newWindowToken = token;
    else
        XPLMDebugString("CV: WebView2 will not pass on the page's new windows; they may open on the desktop.\n");
    auto permission =
        pageHandler<ICoreWebView2PermissionRequestedEventHandler, ICoreWebView2PermissionRequestedEventArgs>(
            IID_ICoreWebView2PermissionRequestedEventHandler, session, "the page's permission request",
            [](WebView2Browser&, ICoreWebView2PermissionRequestedEventArgs* args) { onPermission(args); });
    if (permission && SUCCEEDED(current.webView->add_PermissionRequested(permission.Get(), &token)))
        current.permissionToken = token;
    current.webView->QueryInterface(IID_ICoreWebView2_4, reinterpret_cast<void**>(current.webView4.ReleaseAndGetAddressOf()));
    auto download = pageHandler<ICoreWebView2DownloadStartingEventHandler, ICoreWebView2DownloadStartingEventArgs>(
        IID_ICoreWebView2DownloadStartingEventHandler, session, "the page's download",
        [](WebView2Browser&, ICoreWebView2DownloadStartingEventArgs* args) { onDownload(args); });
    if (current.webView4 && download && SUCCEEDED(current.webView4->add_DownloadStarting(download.Get(), &token)))
        current.downloadToken = token;
    else
        XPLMDebugString("CV: this WebView2 runtime cannot refuse the page's downloads.\n");
}

void stopListeningToPageRequests(WebView2Browser& retired) {
    if (retired.webView) {
        if (retired.scriptDialogToken) retired.webView->remove_ScriptDialogOpening(*retired.scriptDialogToken);
        if (retired.newWindowToken) retired.webView->remove_NewWindowRequested(*retired.newWindowToken);
        if (retired.permissionToken) retired.webView->remove_PermissionRequested(*retired.permissionToken);
    }
    if (retired.webView4 && retired.downloadToken) retired.webView4->remove_DownloadStarting(*retired.downloadToken);
    retired.downloadToken.reset();
    retired.webView4.Reset();
    retired.scriptDialogToken.reset();
    retired.newWindowToken.reset();
    retired.permissionToken.reset();
    forgetPageDialog(retired);
}

void forgetPageDialog(WebView2Browser& current) {
    // The deferral is paid (as a Cancel) and the panel closes the question.
    if (current.dialogArgs || current.dialogDeferral) {
        settleDialog(current, false, {});
        onBrowserDialogClosed();
    }
}

void resetPageRequests() {
    leftForReload.clear();
    newWindowRefused.clear();
    downloadRefused.clear();
    permissionRefused.clear();
}

void answerBrowserDialog(bool accept, const std::string& text) {
    if (!browser || !browser->dialogDeferral) return;
    try {
        if (FAILED(settleDialog(*browser, accept, text)))
            XPLMDebugString("CV: the page's dialog could not be answered; the page went on without it.\n");
    } catch (...) {
        XPLMDebugString("CV: error while answering the page's dialog\n");
    }
}
