// The browser seam on Linux: headless Chromium, driven over its DevTools pipe.
//
// Main-thread state only. The I/O thread of cdp::Connection turns replies into completions;
// BrowserFlightLoop, run every frame, hands them to the rest of the plugin here, so every
// completion (bring-up steps and snapshots alike) happens on the simulator's main thread.
//
// A browser that is lost, cannot be brought up or hangs is killed, and a new one is started
// after a back-off, so the panel comes back by itself. None of that waits on the browser: a
// killed browser is reaped, and its pipe thread joined, from the flight loop once each is done.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "browser/browser.h"
#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_wire.h"
#include "browser/chromium/chromium_process.h"
#include "browser/chromium/profile_cleanup.h"
#include "browser/chromium/snapshot_request.h"
#include "browser/devtools/focus_channel.h"
#include "browser/devtools/input.h"
#include "browser/restart_backoff.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/text_encoding.h"

namespace {

using Clock = std::chrono::steady_clock;

enum class Stage {
    Off,       // not started, or stopped
    Starting,  // the process runs; the page session is being set up
    Ready,     // attached to the page; bring-up commands sent
    Ending,    // it closed its pipe while starting on the pilot's profile: is the profile taken?
    Waiting,   // lost, or it could not start: the next browser is due at restartAt
};

// A browser given up on: killed, and kept until it is reaped and its pipe thread is idle, so
// neither has to be waited for.
struct Retired {
    std::unique_ptr<cdp::Connection> connection;
    std::unique_ptr<chromium::BrowserProcess> process;  // declared last, so destroyed first
    Clock::time_point since;
};

Stage stage = Stage::Off;
std::unique_ptr<chromium::BrowserProcess> browserProcess;
std::unique_ptr<cdp::Connection> connection;
std::vector<Retired> retired;
// Every browser of the session runs on the pilot's lasting profile, or on a private one made
// for the session when that cannot be had (it is removed at stop, after the last browser).
// Where they lie depends on the browser, so they are chosen once one is found.
bool profileChosen = false;
chromium::ProfilePlaces profilePlaces;
bool usePrivateProfile = false;
// Made when the session first needs it; removed, off the main thread, at stop.
std::string privateProfile;
// The browser and profile the log last named, so a line is written when either changes.
std::string announcedBrowser;
// Removes private profiles off the main thread: ours at stop, and those left by simulators
// that died or by sessions whose removal was cut short.
chromium::ProfileCleanup profileCleanup;
RestartBackoff backoff;
Clock::time_point restartAt;
Clock::time_point bringUpDeadline;
// Snapshots started and neither answered nor given up on by the capture schedule.
std::set<CaptureTicket> owedSnapshots;
int snapshotsTimedOutInARow = 0;
std::string pageSession;
bool flightLoopRegistered = false;
// Until the bring-up's viewport has been accepted, its refusal is a failed bring-up rather
// than a zoom step the page did not take.
bool bringUpViewportPending = false;
// Chromium never answers a snapshot asked for while a navigation has not yet committed, nor,
// often, one still out when it commits: the page it was asked of is gone. So none is started
// while a navigation we sent is unanswered or answered but not yet committed (for at most
// navigationCommitWait), and every snapshot still out when the page commits a navigation
// (ours, or one the page began itself, such as a clicked link) is answered as failed there
// and then; the schedule asks again half a second later.
int navigationsUnanswered = 0;
// The first navigation waits for the page's events to be on (Page.enable answered): a commit
// that came before would go untold.
bool firstNavigationHeld = false;
bool pageEventsAnswered = false;
bool pageEventsOn = false;
std::set<std::string> loadersUncommitted;  // of our navigations, answered and not yet committed
std::string lastCommittedLoader;
Clock::time_point lastNavigationSent;
// Snapshots answered as failed at a commit: an answer the browser still sends is dropped here.
std::set<CaptureTicket> failedAtCommit;
constexpr std::size_t failedAtCommitKept = 16;
// Navigation trouble (a refused address, a page that does not load) comes back at every reload.
RepeatingLine navigationTrouble;
RepeatingLine inputTrouble;
// The size the page is laid out for, fixed at bring-up like the controller bounds on Windows.
int viewportWidth = 768;
int viewportHeight = 512;
// The zoom the page is shown at; a refused factor leaves it as it was.
double pageZoom = 1.0;
int framesUntilReapCheck = 0;
// The page's focus reports being set up: the page is loaded only once Chromium has answered
// them all.
int focusChannelUnanswered = 0;
// They could not be set up for this browser (told once per browser).
bool focusChannelRefused = false;
// The page's target, and the page targets it opened (new windows) already sent on.
std::string pageTarget;
std::set<std::string> newPagesFollowed;
// The page waits for the answer to its dialog.
bool pageDialogOpen = false;
// Our periodic reloads not yet answered: a leave-page question then is the reload's, which
// is a fresh navigation and leaves at once; the pilot is asked only about their own.
int reloadsUnanswered = 0;
constexpr std::uint64_t reloadTag = 1;
RepeatingLine leftForReload;
RepeatingLine downloadRefused;

// While Ending: why the pipe closed, and how long its exit status is waited for.
std::string endingReason;
Clock::time_point endingDeadline;

// Asked to close, Chromium writes the profile and exits in a few tenths of a second; past this
// it is killed, so a stop never stalls the simulator for more than 2 s in all.
constexpr std::chrono::milliseconds closeGrace{1500};
constexpr std::chrono::seconds stopBound{2};
// What a private profile's removal gets at stop, within the stop's bound; the rest is finished
// by the next clean-up.
constexpr std::chrono::milliseconds cleanupAtStop{500};
constexpr std::chrono::seconds endingWait{5};
// Chromium is up in a few seconds even on a busy machine; one that has not attached to its
// page by then never will.
constexpr std::chrono::seconds bringUpWait{30};
// Beyond this a navigation's answer is not waited for: snapshots go ahead, and if they are not
// answered the browser counts as hung.
constexpr std::chrono::seconds navigationCommitWait{10};
// Snapshots the schedule gave up on in a row before the browser counts as hung.
constexpr int hungAfterTimeouts = 3;
// A killed browser is reaped within milliseconds; one stuck in the kernel must not hold the
// next one back for ever.
constexpr std::chrono::seconds retiredWait{10};

float BrowserFlightLoop(float, float, int, void*);

void sendViewport() {
    const cdp::Viewport v = cdp::viewportFor(viewportWidth, viewportHeight, pageZoom);
    connection->send(cdp::Request::SetViewport, "Emulation.setDeviceMetricsOverride",
                     {{"width", v.layoutWidth},
                      {"height", v.layoutHeight},
                      {"deviceScaleFactor", v.deviceScale},
                      {"mobile", false}},
                     pageSession);
}

void sendToPage(cdp::Request request, const devtools::Command& command) {
    connection->send(request, command.method, command.params, pageSession);
}

// Pointer moves go out every frame: trouble sending them is told when it starts.
void sendInput(const devtools::Command& command) {
    try {
        sendToPage(cdp::Request::Input, command);
        inputTrouble.clear();
    } catch (const std::exception& e) {
        if (inputTrouble.due()) debugLog("CV: could not send input to the page: %s\n", e.what());
    }
}

void sendNavigate(const std::string& url, std::uint64_t tag = 0) {
    connection->send(cdp::Request::Navigate, "Page.navigate", {{"url", url}}, pageSession, tag);
    ++navigationsUnanswered;
    lastNavigationSent = Clock::now();
}

// The page is loaded once its events are on and its focus reports are set up (answered, either
// way): a commit before the first would go untold, and a navigation that overtakes the
// reports' registration can miss it.
void navigateOnceSetUp() {
    if (!firstNavigationHeld || !pageEventsAnswered || focusChannelUnanswered > 0 || connection->lost()) return;
    firstNavigationHeld = false;
    sendNavigate(toUtf8(webUrl));
}

// The page, its dialog and its windows go with their browser.
void forgetPage() {
    pageTarget.clear();
    newPagesFollowed.clear();
    if (std::exchange(pageDialogOpen, false)) onBrowserDialogClosed();
}

// What was known of a browser's navigations, which the next browser starts without.
void forgetNavigations() {
    navigationsUnanswered = 0;
    firstNavigationHeld = false;
    pageEventsOn = false;
    pageEventsAnswered = false;
    loadersUncommitted.clear();
    lastCommittedLoader.clear();
    failedAtCommit.clear();
    reloadsUnanswered = 0;
}

// Kills what is left of the browser and sets it aside to be reaped; the schedule gets its
// failed answer for every snapshot it still waits for.
void retireBrowser() {
    pageSession.clear();
    forgetPage();
    focusChannelUnanswered = 0;
    bringUpViewportPending = false;
    forgetNavigations();
    if (browserProcess) browserProcess->kill();
    if (browserProcess || connection)
        retired.push_back({std::move(connection), std::move(browserProcess), Clock::now()});
    std::set<CaptureTicket> owed;
    owed.swap(owedSnapshots);
    for (CaptureTicket ticket : owed) onBrowserSnapshot(ticket, false, PngBuffer{});
    // Its page, and whatever text element had the focus there, is gone.
    onBrowserTextFocus(false);
}

// The browser is lost or could not start: a new one is due after the back-off. `what` begins
// the attempt's one log line. A fault no quick retry mends waits the longest delay at once.
void restartLater(const std::string& what, bool atLongestDelay = false) {
    stage = Stage::Waiting;
    retireBrowser();
    const RestartBackoff::Attempt attempt = backoff.failed(atLongestDelay);
    restartAt = Clock::now() + attempt.delay;
    // Whole, however long a path in it is: the attempt number and the line's end must stay.
    const std::string line = what + "; trying again in " + std::to_string(attempt.delay.count()) + " s (attempt " +
                             std::to_string(attempt.number) + ").\n";
    XPLMDebugString(line.c_str());
}

void browserLost(const std::string& why) { restartLater("CV: lost the browser (" + why + ")"); }

void bringUpFailed(const char* step, const std::string& why) {
    restartLater(std::string("CV: the browser could not be brought up (") + step + ": " + why + ")");
}

void attachTo(const std::string& targetId) {
    pageTarget = targetId;
    connection->send(cdp::Request::Attach, "Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
}

void onAttached(const std::string& sessionId) {
    pageSession = sessionId;
    viewportWidth = pageWidth.load();
    viewportHeight = pageHeight.load();
    // Zoom steps taken while the browser came up only changed zoomLevel; it is applied now,
    // and a browser started again gets the zoom the pilot last chose the same way.
    // A factor the page would refuse leaves it at 100 %.
    pageZoom = cdp::usableZoom(zoomLevel) ? static_cast<double>(zoomLevel) : 1.0;
    // Before the page loads, so its documents carry the focus reports from the start. Sent
    // ahead of the viewport, which Chromium can take a second to answer, so that the page load
    // waiting for them does not wait for it too.
    // The channel's Page.enable is also what turns on the page's events: the commits that can
    // take a snapshot with them. The page is navigated once they are on; until then no
    // snapshot is asked for, as if it were navigating.
    focusChannelRefused = false;
    focusChannelUnanswered = 0;
    for (const devtools::Command& command : devtools::textFocusChannel()) {
        if (command.method == "Page.enable") {
            sendToPage(cdp::Request::EnablePage, command);
        } else {
            ++focusChannelUnanswered;
            sendToPage(cdp::Request::FocusChannel, command);
        }
    }
    sendViewport();
    bringUpViewportPending = true;
    // New windows are told as new targets: each is closed, and the page shows its address.
    connection->send(cdp::Request::DiscoverTargets, "Target.setDiscoverTargets", {{"discover", true}});
    firstNavigationHeld = true;
    lastNavigationSent = Clock::now();
    stage = Stage::Ready;
}

std::optional<PageDialogKind> dialogKind(const std::string& type) {
    if (type == "alert") return PageDialogKind::Alert;
    if (type == "confirm") return PageDialogKind::Confirm;
    if (type == "prompt") return PageDialogKind::Prompt;
    if (type == "beforeunload") return PageDialogKind::BeforeUnload;
    return std::nullopt;
}

void sendDialogAnswer(bool accept, const std::string& text) {
    connection->send(cdp::Request::AnswerDialog, "Page.handleJavaScriptDialog",
                     {{"accept", accept}, {"promptText", text}}, pageSession);
}

// The page blocks until its dialog is answered; the pilot answers it in the panel, except the
// leave-page question of our own reload.
void dialogOpened(const cdp::Completion& c) {
    const auto kind = dialogKind(c.value);
    if (!kind) {
        // A kind this build does not know can only be dismissed, or the page stays blocked.
        debugLog("CV: the page opened a dialog of an unknown kind (%s); dismissed.\n", c.value.c_str());
        return sendDialogAnswer(false, {});
    }
    if (*kind == PageDialogKind::BeforeUnload && reloadsUnanswered > 0) {
        if (leftForReload.due()) XPLMDebugString("CV: the page asked before the reload whether to leave it; it was left.\n");
        return sendDialogAnswer(true, {});
    }
    pageDialogOpen = true;
    onBrowserDialogOpened(*kind, c.text, c.detail);
}

// A page target besides ours is a window the page opened: it is closed once its address is
// known, and the panel's page goes there instead.
void newPageSeen(const cdp::Completion& c) {
    if (c.value.empty() || c.value == pageTarget || newPagesFollowed.count(c.value) != 0) return;
    if (c.text.empty() || c.text == "about:blank") return;
    newPagesFollowed.insert(c.value);
    connection->send(cdp::Request::CloseTarget, "Target.closeTarget", {{"targetId", c.value}});
    // Our navigation is not bound by the web's rules: a page could have the panel open a local
    // file or run script in another site. Only web addresses are followed.
    if (c.text.rfind("https://", 0) != 0 && c.text.rfind("http://", 0) != 0) {
        debugLog("CV: the page opened a new window at an address that is not a web page; it was closed.\n");
        return;
    }
    debugLog("CV: the page opened a new window; the panel shows its page instead.\n");
    sendNavigate(c.text);
}

void tellNavigationTrouble(const char* what, const std::string& why) {
    if (navigationTrouble.due()) debugLog("CV: %s: %s\n", what, why.c_str());
}

// The page committed a navigation: what it showed is gone, and so may be any snapshot of it
// still out.
void pageCommitted(const std::string& loader) {
    lastCommittedLoader = loader;
    loadersUncommitted.clear();
    std::set<CaptureTicket> owed;
    owed.swap(owedSnapshots);
    for (CaptureTicket ticket : owed) {
        failedAtCommit.insert(ticket);
        onBrowserSnapshot(ticket, false, PngBuffer{});
    }
    while (failedAtCommit.size() > failedAtCommitKept) failedAtCommit.erase(failedAtCommit.begin());
}

void dispatch(cdp::Completion& c) {
    if (c.type == cdp::Completion::Type::Lost) {
        if (stage == Stage::Starting || stage == Stage::Ready) browserLost(c.text);
        return;
    }
    if (c.type == cdp::Completion::Type::TextFocus) {
        if (stage == Stage::Ready) onBrowserTextFocus(c.ok);
        return;
    }
    if (c.type == cdp::Completion::Type::Committed) {
        if (stage == Stage::Ready) pageCommitted(c.value);
        return;
    }
    if (c.type == cdp::Completion::Type::DialogOpened) {
        if (stage == Stage::Ready) dialogOpened(c);
        return;
    }
    if (c.type == cdp::Completion::Type::DialogClosed) {
        if (std::exchange(pageDialogOpen, false)) onBrowserDialogClosed();
        return;
    }
    if (c.type == cdp::Completion::Type::NewPage) {
        if (stage == Stage::Ready) newPageSeen(c);
        return;
    }
    if (c.type == cdp::Completion::Type::Download) {
        if (downloadRefused.due()) XPLMDebugString("CV: refused a download the page started.\n");
        return;
    }
    if (c.request == cdp::Request::Snapshot) {
        // Any answer shows the browser alive, a late one to a snapshot given up on included.
        owedSnapshots.erase(c.tag);
        snapshotsTimedOutInARow = 0;
        if (c.ok) backoff.served(Clock::now().time_since_epoch());
        // Exactly once per started snapshot: one answered at a commit already was; the
        // schedule drops one it gave up on.
        if (failedAtCommit.erase(c.tag) != 0) return;
        onBrowserSnapshot(c.tag, c.ok, std::move(c.snapshot));
        return;
    }
    if (stage != Stage::Starting && stage != Stage::Ready) return;
    switch (c.request) {
    case cdp::Request::ListTargets:
        if (!c.ok) return bringUpFailed("Target.getTargets", c.text);
        if (c.value.empty()) {
            connection->send(cdp::Request::CreateTarget, "Target.createTarget", {{"url", "about:blank"}});
        } else {
            attachTo(c.value);
        }
        break;
    case cdp::Request::CreateTarget:
        if (!c.ok) return bringUpFailed("Target.createTarget", c.text);
        attachTo(c.value);
        break;
    case cdp::Request::Attach:
        if (!c.ok) return bringUpFailed("Target.attachToTarget", c.text);
        onAttached(c.value);
        break;
    case cdp::Request::SetViewport:
        if (bringUpViewportPending) {
            bringUpViewportPending = false;
            if (!c.ok) return bringUpFailed("Emulation.setDeviceMetricsOverride", c.text);
        } else if (!c.ok) {
            debugLog("CV: the browser refused the zoom factor: %s\n", c.text.c_str());
        }
        break;
    case cdp::Request::FocusChannel:
        // Without the reports the panel never takes the keyboard; clicks and hovering still work.
        if (!c.ok && !focusChannelRefused) {
            focusChannelRefused = true;
            debugLog("CV: the page cannot report its focus (%s); typing into the panel is off for this browser.\n",
                     c.text.c_str());
        }
        --focusChannelUnanswered;
        navigateOnceSetUp();
        break;
    case cdp::Request::EnablePage:
        // Refused, there is no commit to wait for: snapshots wait only for navigations' answers.
        pageEventsOn = c.ok;
        pageEventsAnswered = true;
        navigateOnceSetUp();
        break;
    case cdp::Request::Navigate:
        if (navigationsUnanswered > 0) --navigationsUnanswered;
        if (c.tag == reloadTag && reloadsUnanswered > 0) --reloadsUnanswered;
        // Accepted, it commits a little later (its commit may also have come first).
        if (pageEventsOn && c.ok && c.text.empty() && !c.value.empty() && c.value != lastCommittedLoader)
            loadersUncommitted.insert(c.value);
        // As on Windows, an address the browser refuses (an empty or malformed "WebURL")
        // leaves the view as it was: it stays ready, snapshots go on and each reload tries again.
        if (!c.ok) {
            tellNavigationTrouble("navigation failed", c.text);
        } else if (!c.text.empty()) {
            // The browser shows its error page.
            tellNavigationTrouble("the page could not be loaded", c.text);
        } else {
            navigationTrouble.clear();
        }
        break;
    case cdp::Request::AnswerDialog:
        // The dialog had gone already (the page closed it, or navigated away).
        if (!c.ok) debugLog("CV: the page's dialog could not be answered: %s\n", c.text.c_str());
        break;
    case cdp::Request::DiscoverTargets:
        if (!c.ok) debugLog("CV: new windows of the page cannot be followed (%s).\n", c.text.c_str());
        break;
    case cdp::Request::DenyDownloads:
        if (!c.ok) debugLog("CV: downloads could not be turned off (%s).\n", c.text.c_str());
        break;
    case cdp::Request::DenyPermissions:
        if (!c.ok) debugLog("CV: the page's permission requests could not be turned off (%s).\n", c.text.c_str());
        break;
    default:
        break;
    }
}

void dispatchCompletions() {
    cdp::Connection* const source = connection.get();
    auto completions = connection->takeCompletions();
    // A connection reports its loss together with the requests it fails, in one batch. While
    // starting on the pilot's profile, a loss may mean another simulator's browser holds it.
    const auto lost = std::find_if(completions.begin(), completions.end(),
                                   [](const auto& c) { return c.type == cdp::Completion::Type::Lost; });
    if (lost != completions.end() && stage == Stage::Starting && !usePrivateProfile) {
        stage = Stage::Ending;
        endingReason = lost->text;
        endingDeadline = Clock::now() + endingWait;
    }
    for (auto& completion : completions) {
        // A browser given up on in the middle of the batch owes nothing more.
        if (connection.get() != source) break;
        dispatch(completion);
    }
}

// The executable named by "BrowserPath", else the first known browser there is; "" with
// `problem` set (the start of a log line) when there is none.
std::string locateBrowser(std::string& problem) {
    const char* configured = settingsIni.GetValue("General", "BrowserPath", nullptr);
    if (configured != nullptr && *configured != '\0') {
        if (chromium::isExecutableFile(configured)) return configured;
        problem = std::string("CV: BrowserPath ") + configured + " is not an executable file";
        return {};
    }
    const char* path = std::getenv("PATH");
    const std::string found = chromium::findBrowser(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    if (found.empty()) {
        std::string tried;
        for (const char* name : chromium::browserCandidates) tried += (tried.empty() ? "" : ", ") + std::string(name);
        problem = "CV: no Chromium found (looked for " + tried + "); set BrowserPath in cv_settings.ini";
    }
    return found;
}

// The pilot's own profile, so logins and site storage last from one session to the next;
// a private one for the session when it cannot be had. A snap gets both where it may write.
void chooseProfile(const std::string& executable) {
    profileChosen = true;
    profilePlaces = chromium::profilePlaces(chromium::snapOf(executable));
    profileCleanup.removeStale(profilePlaces.privateParent);
    std::string error = "there is no home folder";
    usePrivateProfile = profilePlaces.lasting.empty() || !chromium::prepareProfileFolder(profilePlaces.lasting, error);
    if (usePrivateProfile)
        debugLog("CV: cannot keep the browser profile in %s (%s); this session uses a private one.\n",
                 profilePlaces.lasting.empty() ? "the home folder" : profilePlaces.lasting.c_str(), error.c_str());
}

// One attempt: the browser found, started on this session's profile and asked for its pages.
// A failure schedules the next attempt.
void launchBrowser() {
    std::string problem;
    const std::string executable = locateBrowser(problem);
    // Nothing will change that within seconds: the pilot installs a browser or mends the path.
    if (executable.empty()) return restartLater(problem, true);
    if (!profileChosen) chooseProfile(executable);
    if (usePrivateProfile && privateProfile.empty()) {
        if (chromium::createMissingFolders(profilePlaces.privateParent, problem))
            privateProfile = chromium::makePrivateProfile(profilePlaces.privateParent, problem);
        if (privateProfile.empty()) return restartLater("CV: could not start the browser: " + problem);
    }
    const std::string& profile = usePrivateProfile ? privateProfile : profilePlaces.lasting;
    if (announcedBrowser != executable + '\n' + profile) {
        announcedBrowser = executable + '\n' + profile;
        XPLMDebugString(("CV: the panel's browser is " + executable + ", on the profile " + profile + "\n").c_str());
    }
    int toBrowser = -1, fromBrowser = -1;
    browserProcess = chromium::BrowserProcess::launch(executable, profile, toBrowser, fromBrowser, problem);
    if (!browserProcess) return restartLater("CV: could not start the browser " + executable + ": " + problem);
    try {
        connection = std::make_unique<cdp::Connection>(toBrowser, fromBrowser);
    } catch (const std::exception& e) {
        return restartLater(std::string("CV: could not start the browser: ") + e.what());
    }
    stage = Stage::Starting;
    bringUpDeadline = Clock::now() + bringUpWait;
    framesUntilReapCheck = 60;
    snapshotsTimedOutInARow = 0;
    backoff.started();
    // Nobody could see or use a downloaded file, nor answer a request for the camera,
    // microphone, location, notifications or clipboard: downloads are refused, and every
    // permission of every site (none granted, so all others rejected).
    connection->send(cdp::Request::DenyDownloads, "Browser.setDownloadBehavior",
                     {{"behavior", "deny"}, {"eventsEnabled", true}});
    connection->send(cdp::Request::DenyPermissions, "Browser.grantPermissions",
                     {{"permissions", nlohmann::json::array()}});
    connection->send(cdp::Request::ListTargets, "Target.getTargets", nlohmann::json::object());
}

// The browser closed its pipe while starting on the pilot's profile. If it exits with
// Chromium's "profile in use" status, another simulator's browser holds that profile, and
// this session runs on a private one; any other end is a lost browser.
void watchEnding() {
    if (browserProcess->reapIfExited()) {
        if (!browserProcess->exitedWith(chromium::profileInUseExitCode)) return browserLost(endingReason);
        const std::string taken = browserProcess->profileFolder();
        // Reaped, and its connection lost: neither can keep us waiting.
        connection.reset();
        browserProcess.reset();
        debugLog("CV: the browser profile %s is in use by another simulator; this session uses a private one.\n",
                 taken.c_str());
        usePrivateProfile = true;
        launchBrowser();
    } else if (Clock::now() > endingDeadline) {
        browserLost(endingReason);
    }
}

// Drops the browsers given up on that are reaped and whose pipe thread has nothing left to do.
void tendRetired(Clock::time_point now) {
    std::erase_if(retired, [&](Retired& r) {
        const bool reaped = !r.process || r.process->reapIfExited();
        const bool idle = !r.connection || r.connection->lost() || now - r.since > retiredWait;
        return reaped && idle;
    });
}

// While a killed browser's process exists its lock on the profile still counts, and the next
// browser would take the pilot's profile for held by another simulator.
bool retiredGone(Clock::time_point now) {
    return std::all_of(retired.begin(), retired.end(), [&](const Retired& r) {
        return !r.process || r.process->reaped() || now - r.since > retiredWait;
    });
}

float BrowserFlightLoop(float, float, int, void*) {
    try {
        const Clock::time_point now = Clock::now();
        tendRetired(now);
        if (connection && connection->hasCompletions()) dispatchCompletions();
        switch (stage) {
        case Stage::Ending:
            watchEnding();
            break;
        case Stage::Starting:
            if (now > bringUpDeadline) restartLater("CV: the browser could not be brought up (no page within 30 s)");
            break;
        case Stage::Waiting:
            if (now >= restartAt && retiredGone(now)) launchBrowser();
            break;
        default:
            break;
        }
        if ((stage == Stage::Starting || stage == Stage::Ready) && --framesUntilReapCheck <= 0) {
            // A browser that exits is noticed by its closed pipe; reaping it is checked here
            // about once a second so no zombie lingers.
            framesUntilReapCheck = 60;
            browserProcess->reapIfExited();
        }
    } catch (const std::exception& e) {
        debugLog("CV: browser backend error: %s\n", e.what());
    } catch (...) {
        debugLog("CV: browser backend error\n");
    }
    return -1.0f;
}

void release() {
    const Clock::time_point stopStarted = Clock::now();
    // Asked to close, the browser writes the profile's storage before it exits; one that is
    // gone or ending is not waited for.
    const bool running = stage == Stage::Starting || stage == Stage::Ready;
    if (connection && browserProcess && !browserProcess->reaped() && running) {
        connection->send(cdp::Request::Close, "Browser.close", nlohmann::json::object());
    }
    if (browserProcess) browserProcess->terminate(running ? closeGrace : std::chrono::milliseconds(0));
    // Joined after the browser is gone; completions not yet dispatched are dropped, the
    // plugin is stopping.
    connection.reset();
    browserProcess.reset();
    for (auto& r : retired) {
        if (r.process) r.process->terminate(std::chrono::milliseconds(0));
    }
    retired.clear();
    // Only now that no browser runs on it.
    if (!privateProfile.empty()) profileCleanup.discard(privateProfile);
    privateProfile.clear();
    profileCleanup.stop(std::min(stopStarted + stopBound, Clock::now() + cleanupAtStop));
    if (flightLoopRegistered) {
        XPLMUnregisterFlightLoopCallback(BrowserFlightLoop, nullptr);
        flightLoopRegistered = false;
    }
    owedSnapshots.clear();
    forgetNavigations();
    forgetPage();
    focusChannelUnanswered = 0;
    pageSession.clear();
    navigationTrouble.clear();
    inputTrouble.clear();
    leftForReload.clear();
    downloadRefused.clear();
    profileChosen = false;
    usePrivateProfile = false;
    announcedBrowser.clear();
    stage = Stage::Off;
}

}  // namespace

bool initBrowserThread() { return true; }

void createBrowserHostWindow() {}

void startBrowser() {
    try {
        if (stage != Stage::Off) return;
        XPLMRegisterFlightLoopCallback(BrowserFlightLoop, -1.0f, nullptr);
        flightLoopRegistered = true;
        backoff = RestartBackoff{};
        launchBrowser();
    } catch (const std::exception& e) {
        debugLog("CV: could not start the browser: %s; carrying on without it.\n", e.what());
        release();
    } catch (...) {
        debugLog("CV: could not start the browser; carrying on without it.\n");
        release();
    }
}

void stopBrowser() {
    try {
        release();
    } catch (const std::exception& e) {
        debugLog("CV: error while stopping the browser: %s\n", e.what());
    } catch (...) {
        debugLog("CV: error while stopping the browser\n");
    }
}

bool browserViewReady() { return stage == Stage::Ready; }

bool browserControllerReady() { return stage == Stage::Ready; }

void navigateBrowser(const std::wstring& url) {
    if (stage != Stage::Ready) return;
    try {
        sendNavigate(toUtf8(url), reloadTag);
        ++reloadsUnanswered;
    } catch (const std::exception& e) {
        debugLog("CV: could not navigate: %s\n", e.what());
    }
}

void setBrowserZoom(double factor) {
    // Refused like the controller refuses it: the page keeps its zoom.
    if (stage != Stage::Ready || !cdp::usableZoom(factor)) return;
    try {
        pageZoom = factor;
        sendViewport();
    } catch (const std::exception& e) {
        debugLog("CV: could not zoom: %s\n", e.what());
    }
}

void sendBrowserClick(int pageX, int pageY) {
    sendBrowserPointer(PagePointer::Press, pageX, pageY);
    sendBrowserPointer(PagePointer::Release, pageX, pageY);
}

void sendBrowserPointer(PagePointer what, int pageX, int pageY) {
    if (stage != Stage::Ready) return;
    // The pixel of the last snapshot, which the pointer was mapped onto, on the page.
    const cdp::Viewport v = cdp::viewportFor(viewportWidth, viewportHeight, pageZoom);
    sendInput(devtools::mouseEvent(what, cdp::pageToCss(pageX, pageWidth.load(), v.clipWidth),
                                   cdp::pageToCss(pageY, pageHeight.load(), v.clipHeight)));
}

void sendBrowserKey(const PageKey& key) {
    if (stage == Stage::Ready) sendInput(devtools::keyEvent(key));
}

void sendBrowserText(const std::string& utf8) {
    if (stage == Stage::Ready) sendInput(devtools::insertText(utf8));
}

void answerBrowserDialog(bool accept, const std::string& text) {
    if (stage != Stage::Ready || !std::exchange(pageDialogOpen, false)) return;
    try {
        sendDialogAnswer(accept, text);
    } catch (const std::exception& e) {
        debugLog("CV: could not answer the page's dialog: %s\n", e.what());
    }
}

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (stage != Stage::Ready) return false;
    // Asked again at the next due check, when the page has committed.
    if (firstNavigationHeld || navigationsUnanswered > 0 || !loadersUncommitted.empty()) {
        if (Clock::now() - lastNavigationSent < navigationCommitWait) return false;
        // A navigation that never commits (an answer that is a download, or no content) is
        // not waited for any longer.
        loadersUncommitted.clear();
    }
    // A failure to send it throws to the capture schedule, which reports it.
    connection->send(cdp::Request::Snapshot, "Page.captureScreenshot",
                     cdp::snapshotParams(cdp::viewportFor(viewportWidth, viewportHeight, pageZoom)), pageSession,
                     ticket);
    owedSnapshots.insert(ticket);
    return true;
}

void browserSnapshotTimedOut(CaptureTicket ticket) {
    try {
        if (owedSnapshots.erase(ticket) == 0 || stage != Stage::Ready) return;
        if (++snapshotsTimedOutInARow < hungAfterTimeouts) return;
        restartLater("CV: the browser did not answer 3 snapshots in a row");
    } catch (const std::exception& e) {
        debugLog("CV: browser backend error: %s\n", e.what());
    } catch (...) {
        debugLog("CV: browser backend error\n");
    }
}
