// What the page asks of Chromium: its dialogs, new windows, downloads and permissions. What to
// do with each is decided in browser/browser_policy.h; here it is told and answered.
#include <utility>

#include "browser/chromium/chromium_state.h"
#include "plugin/log.h"

namespace {

std::optional<PageDialogKind> dialogKind(const std::string& type) {
    if (type == "alert") return PageDialogKind::Alert;
    if (type == "confirm") return PageDialogKind::Confirm;
    if (type == "prompt") return PageDialogKind::Prompt;
    if (type == "beforeunload") return PageDialogKind::BeforeUnload;
    return std::nullopt;
}

void sendDialogAnswer(ChromiumBrowser& current, bool accept, const std::string& text) {
    current.sendToPage(cdp::Request::AnswerDialog, "Page.handleJavaScriptDialog",
                       {{"accept", accept}, {"promptText", text}});
}

}  // namespace

void refusePageRequests(cdp::Connection& connection) {
    // Nobody could see or use a downloaded file, nor answer a request for the camera,
    // microphone, location, notifications or clipboard: downloads are refused, and every
    // permission of every site (none granted, so all others rejected).
    connection.send(cdp::Request::DenyDownloads, "Browser.setDownloadBehavior",
                    {{"behavior", "deny"}, {"eventsEnabled", true}});
    connection.send(cdp::Request::DenyPermissions, "Browser.grantPermissions",
                    {{"permissions", nlohmann::json::array()}});
}

void listenForNewWindows(ChromiumBrowser& current) {
    // New windows are told as new targets: each our page opens is closed, and the panel's page
    // shows its address.
    current.connection->send(cdp::Request::DiscoverTargets, "Target.setDiscoverTargets", {{"discover", true}});
}

// The page blocks until its dialog is answered; the pilot answers it in the panel, except the
// leave-page question of our own reload and the dialogs of a page that floods them.
void dialogOpened(ChromiumBrowser& current, const cdp::Completion& dialog) {
    const auto kind = dialogKind(dialog.value);
    if (!kind) {
        tellUnknownDialog(dialog.value);
        return sendDialogAnswer(current, false, {});
    }
    if (*kind == PageDialogKind::BeforeUnload && leaveForOurReload(current.reloadsUnanswered > 0))
        return sendDialogAnswer(current, true, {});
    if (const auto answer = current.dialogFlood.answerWithoutPilot(*kind))
        return sendDialogAnswer(current, *answer, {});
    current.pageDialogOpen = true;
    askPilot(*kind, dialog.text, dialog.detail);
}

void forgetPageDialog(ChromiumBrowser& current) {
    if (std::exchange(current.pageDialogOpen, false)) onBrowserDialogClosed();
}

// A page target that our page opened is a window of its own: it is closed, and the panel's
// page may go to its address instead; targets anything else opened are left alone. Chromium
// tells of a new window first without an address, then again once its first page has
// committed (seconds later for a slow site), so it is closed only then; one the page leaves
// blank is told at about:blank, and closed without the panel's page going anywhere.
void newPageSeen(ChromiumBrowser& current, const cdp::Completion& target) {
    const std::string& targetId = target.value;
    const std::string& address = target.text;
    const std::string& opener = target.detail;
    if (targetId.empty() || address.empty() || opener.empty() || opener != current.pageTarget ||
        current.newPagesClosed.count(targetId) != 0)
        return;
    current.newPagesClosed.insert(targetId);
    current.connection->send(cdp::Request::CloseTarget, "Target.closeTarget", {{"targetId", targetId}});
    if (const auto followed = followNewWindow(address)) sendNavigate(current, *followed);
}

void pageRequestAnswered(const cdp::Completion& c) {
    if (c.ok) return;
    switch (c.request) {
    case cdp::Request::AnswerDialog:
        // The dialog had gone already (the page closed it, or navigated away).
        return debugLog("CV: the page's dialog could not be answered: %s\n", c.text.c_str());
    case cdp::Request::DiscoverTargets:
        return debugLog("CV: new windows of the page cannot be followed (%s).\n", c.text.c_str());
    case cdp::Request::DenyDownloads: return debugLog("CV: downloads could not be turned off (%s).\n", c.text.c_str());
    case cdp::Request::DenyPermissions:
        return debugLog("CV: the page's permission requests could not be turned off (%s).\n", c.text.c_str());
    case cdp::Request::ColorScheme:
        return debugLog("CV: the page could not be told the pilot's colour scheme (%s).\n", c.text.c_str());
    default: break;
    }
}

void answerBrowserDialog(bool accept, const std::string& text) {
    if (!browserViewReady() || !std::exchange(browser->pageDialogOpen, false)) return;
    guarded("CV: could not answer the page's dialog", [&] { sendDialogAnswer(*browser, accept, text); });
}
