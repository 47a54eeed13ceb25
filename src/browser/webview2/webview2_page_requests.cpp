// What a page asks of its browser, on Windows. Left to itself WebView2 would show its own
// dialog for alert, confirm, prompt and the leave-page question, and open a new top-level
// window for window.open or a link to a new window: on the pilot's desktop, behind a
// full-screen simulator, or parented to our hidden window where nobody can answer it. So:
// - the view's default dialogs are turned off and each dialog is held with a deferral until
//   the pilot answers it in the panel (the leave-page question of our own periodic reload is
//   answered "leave" at once: the reload is a fresh navigation; a page that floods dialogs has
//   the further ones answered at once, browser_policy's DialogFlood);
// - a new window is never made: the panel's own page goes to its address (web pages only);
// - permission requests, which nobody in the simulator could answer, are denied, and so are
//   downloads (nobody could see or use the file).
// What is followed, answered or refused, and each line that tells it, is browser_policy's; this
// file translates between WebView2's events and it.
#include <string>
#include <utility>

#include "browser/browser.h"
#include "browser/browser_policy.h"
#include "browser/webview2/webview2_state.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

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

void onScriptDialog(ICoreWebView2*, ICoreWebView2ScriptDialogOpeningEventArgs* args) {
    if (args == nullptr) return;
    WebView2Browser& current = *browser;
    // The page has one dialog at a time; one still owed went with a page that moved on.
    forgetPageDialog(current);
    auto kind = COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT;
    if (FAILED(args->get_Kind(&kind))) return;  // not answered: the page goes on as cancelled
    if (kind == COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD && leaveForOurReload(current.reloadUnderway)) {
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
        tellUnknownDialog(std::to_string(static_cast<int>(kind)));
        return;
    }
    if (const auto answer = current.dialogFlood.answerWithoutPilot(shown)) {
        // Answered as we return: OK with Accept, Cancel without.
        if (*answer) args->Accept();
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
    askPilot(shown, messageText, takeString(defaultText));
}

void onNewWindow(ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
    if (args == nullptr) return;
    // Handled, with no window of ours given: WebView2 opens none.
    args->put_Handled(TRUE);
    LPWSTR uri = nullptr;
    const auto followed = followNewWindow(SUCCEEDED(args->get_Uri(&uri)) ? takeString(uri) : std::string());
    if (followed) browser->webView->Navigate(toWide(*followed).c_str());
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

void onPermission(ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
    if (args == nullptr) return;
    auto kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    if (FAILED(args->get_PermissionKind(&kind))) kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    const HRESULT denied = args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
    tellPermissionRefused(permissionName(kind), SUCCEEDED(denied));
}

void onDownload(ICoreWebView2*, ICoreWebView2DownloadStartingEventArgs* args) {
    if (args == nullptr) return;
    // Handled too, so that WebView2 shows no download UI of its own.
    const bool cancelled = SUCCEEDED(args->put_Cancel(TRUE));
    args->put_Handled(TRUE);
    tellDownloadRefused(cancelled);
}

// A runtime too old for some of WebView2's own features to be turned off is told once per load.
bool featuresLeftOnTold = false;

// What WebView2 offers on its own and the panel has no use for: its developer tools, its
// browser shortcuts (F5, Ctrl+P, Ctrl+F and the like), its context menu, and the saving of
// what is typed into forms, passwords included, in the profile. The later settings come with
// later runtimes; one without them works on with those features on.
void turnOffBrowserFeatures(ICoreWebView2Settings* settings) {
    std::string leftOn;
    auto turnOff = [&leftOn](HRESULT result, const char* feature) {
        if (FAILED(result)) leftOn += std::string(leftOn.empty() ? "" : ", ") + feature;
    };
    turnOff(settings->put_AreDevToolsEnabled(FALSE), "developer tools");
    turnOff(settings->put_AreDefaultContextMenusEnabled(FALSE), "context menu");
    Microsoft::WRL::ComPtr<ICoreWebView2Settings3> settings3;
    turnOff(queryInterface(settings, IID_ICoreWebView2Settings3, settings3)
                ? settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE)
                : E_NOINTERFACE,
            "browser shortcuts");
    Microsoft::WRL::ComPtr<ICoreWebView2Settings4> settings4;
    const bool hasSettings4 = queryInterface(settings, IID_ICoreWebView2Settings4, settings4);
    turnOff(hasSettings4 ? settings4->put_IsGeneralAutofillEnabled(FALSE) : E_NOINTERFACE, "form autofill");
    turnOff(hasSettings4 ? settings4->put_IsPasswordAutosaveEnabled(FALSE) : E_NOINTERFACE, "password saving");
    if (leftOn.empty() || featuresLeftOnTold) return;
    featuresLeftOnTold = true;
    logLine("CV: this WebView2 runtime could not turn off its own " + leftOn + "; they stay on.\n");
}

}  // namespace

void listenToPageRequests(WebView2Browser& current) {
    Microsoft::WRL::ComPtr<ICoreWebView2Settings> settings;
    if (FAILED(current.webView->get_Settings(settings.GetAddressOf())) || !settings ||
        FAILED(settings->put_AreDefaultScriptDialogsEnabled(FALSE)))
        XPLMDebugString("CV: WebView2's own dialogs could not be turned off; the page's dialogs may open on the "
                        "desktop.\n");
    if (settings) turnOffBrowserFeatures(settings.Get());
    const BrowserGeneration generation = current.generation;
    ICoreWebView2* view = current.webView.Get();
    auto& events = current.events;
    events.scriptDialog = CV_SUBSCRIBE(view, ScriptDialogOpening, generation,
                                       "CV: error while handling the page's dialog", onScriptDialog);
    if (!events.scriptDialog)
        XPLMDebugString("CV: WebView2 will not pass on the page's dialogs; they cannot be answered in the panel.\n");
    events.newWindow = CV_SUBSCRIBE(view, NewWindowRequested, generation,
                                    "CV: error while handling the page's new window", onNewWindow);
    if (!events.newWindow)
        XPLMDebugString("CV: WebView2 will not pass on the page's new windows; they may open on the desktop.\n");
    events.permission = CV_SUBSCRIBE(view, PermissionRequested, generation,
                                     "CV: error while handling the page's permission request", onPermission);
    // Downloads are told through the view's fourth version (a runtime too old has none).
    Microsoft::WRL::ComPtr<ICoreWebView2_4> view4;
    queryInterface(view, IID_ICoreWebView2_4, view4);
    events.download = CV_SUBSCRIBE(view4.Get(), DownloadStarting, generation,
                                   "CV: error while handling the page's download", onDownload);
    if (!events.download) XPLMDebugString("CV: this WebView2 runtime cannot refuse the page's downloads.\n");
}

void forgetPageDialog(WebView2Browser& current) {
    // The deferral is paid (as a Cancel) and the panel closes the question.
    if (current.dialogArgs || current.dialogDeferral) {
        settleDialog(current, false, {});
        onBrowserDialogClosed();
    }
}

void answerBrowserDialog(bool accept, const std::string& text) {
    if (!browser || !browser->dialogDeferral) return;
    guarded("CV: error while answering the page's dialog", [&] {
        if (FAILED(settleDialog(*browser, accept, text)))
            XPLMDebugString("CV: the page's dialog could not be answered; the page went on without it.\n");
    });
}
