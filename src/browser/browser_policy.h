// What both backends decide alike, decided here once: the page's new windows, the leave-page
// question of our own reload, a page's flood of dialogs and the length of their texts, refused
// downloads and permissions, the snapshots a lost or hung browser owes, and the line and pause
// before the next browser. A backend translates between its browser and these; it holds no
// policy of its own. Main thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "browser/browser.h"
#include "browser/restart_backoff.h"

// The page opened a new window at `address`: no window is made, and the panel's own page goes
// to the address returned (web pages only: our navigation is not bound by the web's rules, so
// a page could have the panel open a local file or run script in another site); nothing when
// the window is simply closed. Either way one log line, at most once a minute.
std::optional<std::string> followNewWindow(const std::string& address);

// The page opened a dialog of a kind this build does not know (`kind` as the browser names
// it): it is dismissed, or the page stays blocked.
void tellUnknownDialog(const std::string& kind);

// The page asks whether it may be left. True when that is the leave question of our own
// periodic reload (`reloadUnderway`), which is a fresh navigation: it is answered "leave" at
// once, never put to the pilot.
bool leaveForOurReload(bool reloadUnderway);

// A page that opens dialogs one after another (an alert in a loop) would keep the pilot
// answering for ever: once a page load has opened more than 3 within 10 s, every further dialog
// of that load is answered without the pilot (OK for an alert, Cancel for the others, so a
// leave-page question stays), told in one line. Each browser keeps one; the page's next load
// (a navigation it commits) starts it afresh.
class DialogFlood {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t mostShown = 3;
    static constexpr std::chrono::seconds window{10};
    // The page opened a dialog of `kind` at `now`: nothing when it goes to the pilot, otherwise
    // the answer given for them (true: OK).
    std::optional<bool> answerWithoutPilot(PageDialogKind kind, Clock::time_point now = Clock::now());
    void pageLoaded();

private:
    std::deque<Clock::time_point> opened_;  // within the last `window`, oldest first
    bool flooding_ = false;
};

// A dialog's message and a prompt's default text are the page's to make as long as it likes
// (megabytes); the pilot gets at most this much of each, cut at a whole character, with "..."
// where it was cut.
constexpr std::size_t dialogTextMost = 4096;
std::string boundedDialogText(std::string_view text);

// The page opened a dialog for the pilot to answer: the panel is told, with its texts bounded.
void askPilot(PageDialogKind kind, std::string_view message, std::string_view defaultText);

// Nobody could see or use a downloaded file, nor answer a request for the camera, microphone,
// location, notifications or clipboard: each is refused, told at most once a minute.
// `refused` is false when the browser would not take the refusal.
void tellDownloadRefused(bool refused = true);
void tellPermissionRefused(const char* what, bool refused);

// At stop: the next start tells everything afresh.
void resetBrowserPolicy();

// Snapshots a browser was asked for and has not answered yet, with what the backend keeps for
// each until then. Each is answered exactly once: by the browser, or as failed when the
// browser goes.
template <class Held = bool>
class OwedSnapshots {
public:
    Held& add(CaptureTicket ticket) { return owed_[ticket]; }
    Held* find(CaptureTicket ticket) {
        const auto it = owed_.find(ticket);
        // Not `&`: a COM pointer's own lets go of what it holds.
        return it == owed_.end() ? nullptr : std::addressof(it->second);
    }
    // The answer came, or the capture schedule gave up on it: nothing more is owed. False when
    // nothing was.
    bool settle(CaptureTicket ticket) { return owed_.erase(ticket) != 0; }
    bool empty() const { return owed_.empty(); }
    // The browser or its page is gone: every snapshot still owed is answered as failed. Their
    // tickets are returned, for a backend whose browser may still answer them.
    std::vector<CaptureTicket> failAll() {
        std::vector<CaptureTicket> failed;
        for (auto& entry : std::exchange(owed_, {})) {
            failed.push_back(entry.first);
            onBrowserSnapshot(entry.first, false, PngBuffer{});
        }
        return failed;
    }
    void clear() { owed_.clear(); }

private:
    std::map<CaptureTicket, Held> owed_;
};

// A browser that lets this many snapshots in a row go unanswered hangs: it is replaced, with
// one line.
class HangWatch {
public:
    static constexpr int snapshotsLostMost = 3;
    static constexpr const char* line = "CV: the browser did not answer 3 snapshots in a row";
    // A snapshot went unanswered; true when the browser now counts as hung.
    bool snapshotLost() { return ++lostInARow_ >= snapshotsLostMost; }
    // Any answer shows the browser alive.
    void answered() { lostInARow_ = 0; }

private:
    int lostInARow_ = 0;
};

// The browser is lost, hangs or could not be brought up: the pause before the next one, told
// in one line that begins with `what` and names the pause and the attempt.
std::chrono::seconds nextBrowserAfter(RestartBackoff& backoff, const std::string& what, bool atLongestDelay = false);
