// What the stand-in page asks of its browser, as WebView2 documents it: the event arguments of
// ScriptDialogOpening, NewWindowRequested and PermissionRequested, their deferral, and the
// view's settings. The outcome of each event is settled once, when its handlers have returned
// or, if one took the deferral, when the deferral is completed; it is then recorded.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/webview2.h"

namespace standin {

// One event's outcome: `settle` runs once, from whichever comes last of the handlers returning
// and the deferral's Complete.
struct PendingOutcome {
    bool deferred = false;
    bool settled = false;
    std::function<void()> settle;
    void handlersReturned();
    void deferralCompleted();
};

// What the handlers answered to a page's dialog.
struct DialogAnswer {
    COREWEBVIEW2_SCRIPT_DIALOG_KIND kind = COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT;
    std::string message, defaultText;
    bool accepted = false;
    std::string resultText;
};

struct NewWindowAnswer {
    std::string uri;
    bool handled = false;
    bool windowGiven = false;
};

struct DownloadAnswer {
    bool cancel = false;
    bool handled = false;
};

struct PermissionAnswer {
    COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
    COREWEBVIEW2_PERMISSION_STATE state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
};

Microsoft::WRL::ComPtr<ICoreWebView2ScriptDialogOpeningEventArgs> makeDialogArgs(
    std::shared_ptr<DialogAnswer> answer, std::shared_ptr<PendingOutcome> outcome);
Microsoft::WRL::ComPtr<ICoreWebView2NewWindowRequestedEventArgs> makeNewWindowArgs(
    std::shared_ptr<NewWindowAnswer> answer, std::shared_ptr<PendingOutcome> outcome);
Microsoft::WRL::ComPtr<ICoreWebView2DownloadStartingEventArgs> makeDownloadArgs(
    std::shared_ptr<DownloadAnswer> answer, std::shared_ptr<PendingOutcome> outcome);
Microsoft::WRL::ComPtr<ICoreWebView2PermissionRequestedEventArgs> makePermissionArgs(
    std::shared_ptr<PermissionAnswer> answer, std::shared_ptr<PendingOutcome> outcome);

// The view's settings, all four versions on one object; only whether WebView2 shows its own
// dialogs is kept (true at first), and what the plugin turns off is recorded.
Microsoft::WRL::ComPtr<ICoreWebView2Settings> makeSettings(std::shared_ptr<bool> defaultDialogs);

const char* dialogKindName(COREWEBVIEW2_SCRIPT_DIALOG_KIND kind);

}  // namespace standin
