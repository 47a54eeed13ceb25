#include "browser/browser_policy.h"

#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

RepeatingLine notAWebPage;
RepeatingLine newWindowFollowed;
RepeatingLine leftForReload;
RepeatingLine downloadLine;
// Told once a page load, and at most once a minute however often the page is loaded again.
RepeatingLine floodLine;
std::map<std::string, RepeatingLine> permissionLines;

bool isWebAddress(const std::string& address) {
    return address.rfind("https://", 0) == 0 || address.rfind("http://", 0) == 0;
}

}  // namespace

std::optional<std::string> followNewWindow(const std::string& address) {
    if (!isWebAddress(address)) {
        if (notAWebPage.due())
            XPLMDebugString("CV: the page opened a new window at an address that is not a web page; it was closed.\n");
        return std::nullopt;
    }
    if (newWindowFollowed.due())
        XPLMDebugString("CV: the page opened a new window; the panel shows its page instead.\n");
    return address;
}

void tellUnknownDialog(const std::string& kind) {
    debugLog("CV: the page opened a dialog of an unknown kind (%s); dismissed.\n", kind.c_str());
}

bool leaveForOurReload(bool reloadUnderway) {
    if (!reloadUnderway) return false;
    if (leftForReload.due())
        XPLMDebugString("CV: the page asked before the reload whether to leave it; it was left.\n");
    return true;
}

std::optional<bool> DialogFlood::answerWithoutPilot(PageDialogKind kind, Clock::time_point now) {
    if (!flooding_) {
        while (!opened_.empty() && now - opened_.front() >= window) opened_.pop_front();
        opened_.push_back(now);
        flooding_ = opened_.size() > mostShown;
        if (flooding_ && floodLine.due())
            XPLMDebugString("CV: the page opened more than 3 dialogs in 10 s; further dialogs of this page are "
                            "answered without the pilot.\n");
    }
    if (!flooding_) return std::nullopt;
    return kind == PageDialogKind::Alert;
}

void DialogFlood::pageLoaded() {
    opened_.clear();
    flooding_ = false;
}

std::string boundedDialogText(std::string_view text) {
    if (text.size() <= dialogTextMost) return std::string(text);
    constexpr std::string_view ellipsis = "...";
    std::string bounded(text.substr(0, wholeCharactersWithin(text, dialogTextMost - ellipsis.size())));
    bounded += ellipsis;
    return bounded;
}

void askPilot(PageDialogKind kind, std::string_view message, std::string_view defaultText) {
    onBrowserDialogOpened(kind, boundedDialogText(message), boundedDialogText(defaultText));
}

void tellDownloadRefused(bool refused) {
    if (downloadLine.due())
        XPLMDebugString(refused ? "CV: refused a download the page started.\n"
                                : "CV: a download the page started could not be refused.\n");
}

void tellPermissionRefused(const char* what, bool refused) {
    if (permissionLines[what].due())
        debugLog(refused ? "CV: the page asked for %s; refused.\n"
                         : "CV: the page asked for %s; it could not be refused.\n",
                 what);
}

void resetBrowserPolicy() {
    notAWebPage.clear();
    newWindowFollowed.clear();
    leftForReload.clear();
    downloadLine.clear();
    floodLine.clear();
    permissionLines.clear();
}

std::chrono::seconds nextBrowserAfter(RestartBackoff& backoff, const std::string& what, bool atLongestDelay) {
    const RestartBackoff::Attempt attempt = backoff.failed(atLongestDelay);
    // Whole, however long a path in it is: the attempt number and the line's end must stay.
    logLine(what + "; trying again in " + std::to_string(attempt.delay.count()) + " s (attempt " +
            std::to_string(attempt.number) + ").\n");
    return attempt.delay;
}
