// State of the Linux backend shared by its files. Main thread only, no locks.
//
// What belongs to one browser's life lives in ChromiumBrowser, which a restart replaces whole;
// what outlives it (the back-off, the profile, the browsers given up on and still being reaped,
// lines told at most once a minute) stays apart, in the file that owns it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browser/browser.h"
#include "browser/browser_policy.h"
#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_wire.h"
#include "browser/chromium/chromium_process.h"

using Clock = std::chrono::steady_clock;

// One browser, from its start until it is given up on or stopped.
struct ChromiumBrowser {
    enum class Stage {
        Starting,  // the process runs; the page session is being set up
        Ready,     // attached to the page; bring-up commands sent
        Ending,    // it closed its pipe while starting on the pilot's profile: is the profile taken?
    };
    Stage stage = Stage::Starting;
    std::unique_ptr<cdp::Connection> connection;
    std::unique_ptr<chromium::BrowserProcess> process;  // declared after the connection, so destroyed first
    Clock::time_point bringUpDeadline;
    int framesUntilReapCheck = 60;
    // While Ending: why the pipe closed, and how long its exit status is waited for.
    std::string endingReason;
    Clock::time_point endingDeadline;

    // The page's target, and our session on it.
    std::string pageTarget;
    std::string pageSession;
    // The size the page is laid out for, fixed like the controller bounds on Windows (not the
    // size of the last picture, which the page scale makes larger), the zoom it is shown at (a
    // refused factor leaves it as it was) and the scale its pictures are rendered at.
    int viewportWidth = 768;
    int viewportHeight = 512;
    double pageZoom = 1.0;
    double pageScale = 1.0;
    // Chromium refused to set the visible size apart from the layout: the page scale then only
    // raises the device scale, which sharpens snapshots but not screencast frames.
    bool visibleSizeRefused = false;
    // Until the bring-up's viewport has been accepted, its refusal is a failed bring-up rather
    // than a zoom step the page did not take.
    bool bringUpViewportPending = false;
    // Pictures asked for (snapshots and shots) and not yet answered, each with whether the
    // viewport was sent after it. Chromium takes a clipped picture under an emulation of its own
    // and, at its answer, puts back the metrics it found when it began: a zoom step sent
    // meanwhile is undone there, and so it is sent again.
    struct PictureOut {
        cdp::Request request;
        std::uint64_t tag;
        bool viewportSentSince;
    };
    std::vector<PictureOut> picturesOut;

    // Chromium never answers a snapshot asked for while a navigation has not yet committed,
    // nor, often, one still out when it commits: the page it was asked of is gone. So none is
    // started while a navigation we sent is unanswered or answered but not yet committed (for
    // at most 10 s), and every snapshot still out when the page commits a navigation (ours, or one
    // the page began itself, such as a clicked link) is answered as failed there and then; the
    // schedule asks again half a second later.
    int navigationsUnanswered = 0;
    // The first navigation waits for the page's events to be on (Page.enable answered): a
    // commit that came before would go untold.
    bool firstNavigationHeld = false;
    bool pageEventsAnswered = false;
    bool pageEventsOn = false;
    std::set<std::string> loadersUncommitted;  // of our navigations, answered and not yet committed
    std::string lastCommittedLoader;
    Clock::time_point lastNavigationSent;
    // Our periodic reloads not yet answered: a leave-page question then is the reload's.
    int reloadsUnanswered = 0;

    // Snapshots started and neither answered nor given up on by the capture schedule.
    OwedSnapshots<> owedSnapshots;
    // Snapshots answered as failed at a commit: an answer the browser still sends is dropped.
    std::set<CaptureTicket> failedAtCommit;
    HangWatch hangWatch;

    // The page waits for the answer to its dialog.
    bool pageDialogOpen = false;
    // The dialogs of the page's current load, for a flood of them.
    DialogFlood dialogFlood;
    // The page targets our page opened (new windows) already closed.
    std::set<std::string> newPagesClosed;

    // The page was told the pilot prefers a dark colour scheme.
    bool darkScheme = false;

    // Our screencast runs: asked for, and neither stopped nor ended by the browser. Frames that
    // come otherwise are acknowledged and dropped.
    bool screencastOn = false;

    // The commands setting up the page's focus reports, not yet answered: the page is loaded
    // only once Chromium has answered them all. Refused, they are told once.
    int focusChannelUnanswered = 0;
    bool focusChannelRefused = false;

    // Neither lost nor ending: it has the page, or is on its way to it.
    bool running() const { return stage == Stage::Starting || stage == Stage::Ready; }
    cdp::Viewport viewport() const { return cdp::viewportFor(viewportWidth, viewportHeight, pageZoom, pageScale); }
    // Above scale 1 (at a zoom of 100 % or more) the page is scaled into a visible size of the
    // picture's size, where input positions are CSS pixels times the page scale.
    bool scaledView() const { return !visibleSizeRefused && pageScale > 1.0 && cdp::effectiveZoom(pageZoom) >= 1.0; }
    double inputScale() const { return scaledView() ? pageScale : 1.0; }
    // A command for the page, on our session with it.
    void sendToPage(cdp::Request request, const std::string& method, const nlohmann::json& params,
                    std::uint64_t tag = 0) {
        connection->send(request, method, params, pageSession, tag);
    }
};

// The browser of the moment: none before start, while a new one is waited for, and after stop.
extern std::optional<ChromiumBrowser> browser;

// ---- chromium_lifecycle.cpp: start, stop and recovery ----

// The browser is lost, hangs or could not be brought up: it is given up on, and a new one is
// started after the back-off. `what` begins the attempt's one log line. A fault no quick retry
// mends waits the longest delay at once.
void restartLater(const std::string& what, bool atLongestDelay = false);
// A bring-up step the browser refused.
void bringUpFailed(const char* step, const std::string& why);
// The browser answered a snapshot with its picture, or sent a frame.
void browserServed();

// ---- chromium_page.cpp: navigation, zoom and snapshots ----

// Lays the newly attached page out and holds its first navigation until it is set up.
void setUpPage(ChromiumBrowser& current);
// Tells the page its layout, zoom and scale.
void sendViewport(ChromiumBrowser& current);
// Loads the page once it is set up (its events on, its focus reports answered).
void navigateOnceSetUp(ChromiumBrowser& current);
void sendNavigate(ChromiumBrowser& current, const std::string& url, std::uint64_t tag = 0);
// The page's main frame committed a navigation, ours or one the page began.
void pageCommitted(ChromiumBrowser& current, const std::string& loader);
// The answers to the page's commands.
void viewportAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
void visibleSizeAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
void pageEventsAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
void navigationAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
void snapshotAnswered(ChromiumBrowser& current, cdp::Completion& answer);
// A snapshot or shot asked for, and its answer (sends the viewport again if that answer undid it).
void pictureAsked(ChromiumBrowser& current, cdp::Request request, std::uint64_t tag);
void pictureAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
// At stop: the next start tells navigation trouble afresh.
void resetPage();

// ---- chromium_page_requests.cpp: dialogs, new windows, downloads ----

// Refuses what nobody in the simulator could see or answer; from the browser's start.
void refusePageRequests(cdp::Connection& connection);
// New windows of the attached page are told as new targets.
void listenForNewWindows(ChromiumBrowser& current);
void dialogOpened(ChromiumBrowser& current, const cdp::Completion& dialog);
// The page's dialog went without our answer, or the page did.
void forgetPageDialog(ChromiumBrowser& current);
void newPageSeen(ChromiumBrowser& current, const cdp::Completion& target);
// The answers to AnswerDialog, DiscoverTargets, DenyDownloads and DenyPermissions.
void pageRequestAnswered(const cdp::Completion& answer);

// ---- chromium_screencast.cpp: live frames ----

// The page scale last asked for: a browser brought up takes it.
extern double lastPageScale;
// The colour scheme last asked for: a browser started again tells its page the same.
extern bool lastDarkScheme;
// A frame of the screencast arrived: shown while ours runs, acknowledged always.
void screencastFrame(ChromiumBrowser& current, cdp::Completion& frame);
// The answer to Page.startScreencast, and the browser's report that the page is hidden from it.
void screencastAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
void shotAnswered(cdp::Completion& answer);
void screencastHidden(ChromiumBrowser& current);
// A page finished loading: a running screencast is started again on it.
void screencastPageLoaded(ChromiumBrowser& current);

// ---- chromium_input.cpp ----

// Sets up the attached page's focus reports; sent before anything else of the page.
void setUpInput(ChromiumBrowser& current);
void focusChannelAnswered(ChromiumBrowser& current, const cdp::Completion& answer);
// At stop: the next start tells input trouble afresh.
void resetInput();
