// The browser seam on Linux: headless Chromium, driven over its DevTools pipe. Here: its start,
// its stop, and its recovery.
//
// The I/O thread of cdp::Connection turns replies into completions; BrowserFlightLoop, run
// every frame, hands them to the rest of the backend, so every completion (bring-up steps and
// snapshots alike) happens on the simulator's main thread.
//
// A browser that is lost, cannot be brought up or hangs is killed, and a new one is started
// after a back-off, so the panel comes back by itself. None of that waits on the browser: a
// killed browser is reaped, and its pipe thread joined, from the flight loop once each is done.
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

#include "browser/chromium/chromium_state.h"
#include "browser/chromium/local_state.h"
#include "browser/chromium/profile_cleanup.h"
#include "platform/flight_loop.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

std::optional<ChromiumBrowser> browser;

namespace {

using Stage = ChromiumBrowser::Stage;

// A browser given up on: killed, and kept until it is reaped and its pipe thread is idle, so
// neither has to be waited for.
struct Retired {
    std::unique_ptr<cdp::Connection> connection;
    std::unique_ptr<chromium::BrowserProcess> process;  // declared last, so destroyed first
    Clock::time_point since;
};

std::vector<Retired> retired;
// Every browser of the session runs on the pilot's lasting profile, or on a private one made
// for the session when that cannot be had (it is removed at stop, after the last browser).
// Where they lie depends on the browser, so they are chosen once one is found.
std::optional<chromium::ProfilePlaces> profilePlaces;
bool usePrivateProfile = false;
// Made when the session first needs it; removed, off the main thread, at stop.
std::string privateProfile;
// The browser and profile the log last named, so a line is written when either changes.
std::string announcedBrowser;
// Whether this start's log has said that its browsers go without their sandbox: once per start,
// not once per browser, as a browser that keeps failing is started again and again.
bool toldWithoutSandbox = false;
// The same for a profile whose settings file would not take the energy saver.
bool toldNoEnergySaver = false;
// Removes private profiles off the main thread: ours at stop, and those left by simulators
// that died or by sessions whose removal was cut short.
chromium::ProfileCleanup profileCleanup;
RestartBackoff backoff;
// While there is no browser between a failure and the next start: when that start is due.
std::optional<Clock::time_point> restartAt;

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
// A killed browser is reaped within milliseconds; one stuck in the kernel must not hold the
// next one back for ever.
constexpr std::chrono::seconds retiredWait{10};

float BrowserFlightLoop(float, float, int, void*);
FlightLoop flightLoop(BrowserFlightLoop);

// Kills what is left of a browser given up on and sets it aside to be reaped; the schedule gets
// its failed answer for every snapshot it still waits for, the panel loses the page's dialog
// and its text focus.
void retire(ChromiumBrowser& gone) {
    forgetPageDialog(gone);
    gone.process->kill();
    retired.push_back({std::move(gone.connection), std::move(gone.process), Clock::now()});
    gone.owedSnapshots.failAll();
    // Its page, and whatever text element had the focus there, is gone.
    onBrowserTextFocus(false);
}

void browserLost(const std::string& why) { restartLater("CV: lost the browser (" + why + ")"); }

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
        if (chromium::insideSteamContainer())
            problem += " (X-Plane runs in Steam's container, which hides the system's browsers: set it to a Chrome or "
                       "Chromium under /opt or your home folder, or choose \"Legacy runtime 1.0\" for X-Plane 12 in "
                       "Steam, Properties > Compatibility)";
    }
    return found;
}

// The pilot's own profile, so logins and site storage last from one session to the next;
// a private one for the session when it cannot be had. A snap gets both where it may write.
void chooseProfile(const std::string& executable) {
    const auto& places = profilePlaces.emplace(chromium::profilePlaces(chromium::snapOf(executable)));
    profileCleanup.removeStale(places.privateParent);
    std::string error = "there is no home folder";
    usePrivateProfile = places.lasting.empty() || !chromium::prepareProfileFolder(places.lasting, error);
    if (usePrivateProfile)
        debugLog("CV: cannot keep the browser profile in %s (%s); this session uses a private one.\n",
                 places.lasting.empty() ? "the home folder" : places.lasting.c_str(), error.c_str());
}

// The profile the session's browsers run on; the private one is made when first needed. ""
// with `problem` set when it cannot be made.
std::string sessionProfile(std::string& problem) {
    if (!usePrivateProfile) return profilePlaces->lasting;
    if (privateProfile.empty() && chromium::createMissingFolders(profilePlaces->privateParent, problem))
        privateProfile = chromium::makePrivateProfile(profilePlaces->privateParent, problem);
    return privateProfile;
}

// One attempt: the browser found, started on this session's profile and asked for its pages.
// A failure schedules the next attempt.
void launchBrowser() {
    restartAt.reset();
    std::string problem;
    const std::string executable = locateBrowser(problem);
    // Nothing will change that within seconds: the pilot installs a browser or mends the path.
    if (executable.empty()) return restartLater(problem, true);
    if (!profilePlaces) chooseProfile(executable);
    const std::string profile = sessionProfile(problem);
    if (profile.empty()) return restartLater("CV: could not start the browser: " + problem);
    if (announcedBrowser != executable + '\n' + profile) {
        announcedBrowser = executable + '\n' + profile;
        XPLMDebugString(("CV: the panel's browser is " + executable + ", on the profile " + profile + "\n").c_str());
    }
    if (std::string why; !chromium::askForEnergySaver(profile, why) && !toldNoEnergySaver) {
        toldNoEnergySaver = true;
        XPLMDebugString(("CV: could not set the browser's energy saver in " + profile + "/Local State (" + why +
                         "); a page that animates costs it more processor time.\n")
                            .c_str());
    }
    if (chromium::runsWithoutSandbox() && !toldWithoutSandbox) {
        toldWithoutSandbox = true;
        XPLMDebugString("CV: the simulator runs as root, so the browser starts without its sandbox.\n");
    }
    int toBrowser = -1, fromBrowser = -1;
    auto process = chromium::BrowserProcess::launch(executable, profile, toBrowser, fromBrowser, problem);
    if (!process) return restartLater("CV: could not start the browser " + executable + ": " + problem);
    ChromiumBrowser& started = browser.emplace();
    started.process = std::move(process);
    try {
        started.connection = std::make_unique<cdp::Connection>(toBrowser, fromBrowser, [](cdp::Completion& c) {
            if (c.request == cdp::Request::Shot)
                takeBrowserShotNow(c.snapshot);
            else
                takeBrowserFrameNow(c.snapshot);
        });
    } catch (const std::exception& e) {
        return restartLater(std::string("CV: could not start the browser: ") + e.what());
    }
    started.bringUpDeadline = Clock::now() + bringUpWait;
    backoff.started();
    refusePageRequests(*started.connection);
    started.connection->send(cdp::Request::ListTargets, "Target.getTargets", nlohmann::json::object());
}

void attachTo(ChromiumBrowser& current, const std::string& targetId) {
    current.pageTarget = targetId;
    current.connection->send(cdp::Request::Attach, "Target.attachToTarget",
                             {{"targetId", targetId}, {"flatten", true}});
}

void onAttached(ChromiumBrowser& current, const std::string& sessionId) {
    current.pageSession = sessionId;
    setUpInput(current);
    setUpPage(current);
    listenForNewWindows(current);
    current.stage = Stage::Ready;
    onBrowserStarted();
}

void replyArrived(ChromiumBrowser& current, cdp::Completion& c) {
    if (c.request == cdp::Request::Snapshot || c.request == cdp::Request::Shot) pictureAnswered(current, c);
    if (c.request == cdp::Request::Snapshot || c.request == cdp::Request::Check) return snapshotAnswered(current, c);
    if (!current.running()) return;
    // A lost browser's shots are not answered: the new browser's pipeline starts afresh.
    if (c.request == cdp::Request::Shot) return shotAnswered(c);
    switch (c.request) {
    // The bring-up: the browser's page target found or made, then attached to.
    case cdp::Request::ListTargets:
        if (!c.ok) return bringUpFailed("Target.getTargets", c.text);
        if (!c.value.empty()) return attachTo(current, c.value);
        return current.connection->send(cdp::Request::CreateTarget, "Target.createTarget", {{"url", "about:blank"}});
    case cdp::Request::CreateTarget:
        if (!c.ok) return bringUpFailed("Target.createTarget", c.text);
        return attachTo(current, c.value);
    case cdp::Request::Attach:
        if (!c.ok) return bringUpFailed("Target.attachToTarget", c.text);
        return onAttached(current, c.value);
    case cdp::Request::SetViewport: return viewportAnswered(current, c);
    case cdp::Request::VisibleSize: return visibleSizeAnswered(current, c);
    case cdp::Request::EnablePage: return pageEventsAnswered(current, c);
    case cdp::Request::Navigate: return navigationAnswered(current, c);
    case cdp::Request::FocusChannel: return focusChannelAnswered(current, c);
    case cdp::Request::Screencast: return screencastAnswered(current, c);
    default: return pageRequestAnswered(c);
    }
}

// One completion of the current browser, to the part of the backend it concerns. The page's
// events count only once it is ready.
void dispatch(ChromiumBrowser& current, cdp::Completion& c) {
    using Type = cdp::Completion::Type;
    if (c.type == Type::Reply) return replyArrived(current, c);
    if (c.type == Type::Lost && current.running()) return browserLost(c.text);
    if (c.type == Type::DialogClosed) return forgetPageDialog(current);
    if (c.type == Type::Download) return tellDownloadRefused();
    if (current.stage != Stage::Ready) return;
    if (c.type == Type::TextFocus) onBrowserTextFocus(c.ok);
    if (c.type == Type::Committed) pageCommitted(current, c.value);
    if (c.type == Type::DialogOpened) dialogOpened(current, c);
    if (c.type == Type::NewPage) newPageSeen(current, c);
    if (c.type == Type::Frame) screencastFrame(current, c);
    if (c.type == Type::Hidden) screencastHidden(current);
    if (c.type == Type::Loaded) {
        screencastPageLoaded(current);
        onBrowserPageLoaded();
    }
}

void dispatchCompletions(ChromiumBrowser& current) {
    cdp::Connection* const source = current.connection.get();
    auto completions = current.connection->takeCompletions();
    // A connection reports its loss together with the requests it fails, in one batch. While
    // starting on the pilot's profile, a loss may mean another simulator's browser holds it.
    const auto lost = std::find_if(completions.begin(), completions.end(),
                                   [](const auto& c) { return c.type == cdp::Completion::Type::Lost; });
    if (lost != completions.end() && current.stage == Stage::Starting && !usePrivateProfile) {
        current.stage = Stage::Ending;
        current.endingReason = lost->text;
        current.endingDeadline = Clock::now() + endingWait;
    }
    for (auto& completion : completions) {
        // A browser given up on in the middle of the batch owes nothing more.
        if (!browser || browser->connection.get() != source) break;
        dispatch(*browser, completion);
    }
}

// The browser closed its pipe while starting on the pilot's profile. If it exits with
// Chromium's "profile in use" status, another simulator's browser holds that profile, and
// this session runs on a private one; any other end is a lost browser.
void watchEnding(ChromiumBrowser& current) {
    if (current.process->reapIfExited()) {
        if (!current.process->exitedWith(chromium::profileInUseExitCode)) return browserLost(current.endingReason);
        const std::string taken = current.process->profileFolder();
        // Reaped, and its connection lost: neither can keep us waiting.
        browser.reset();
        debugLog("CV: the browser profile %s is in use by another simulator; this session uses a private one.\n",
                 taken.c_str());
        usePrivateProfile = true;
        launchBrowser();
    } else if (Clock::now() > current.endingDeadline) {
        browserLost(current.endingReason);
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

void tendBrowser(Clock::time_point now) {
    if (restartAt) {
        if (now >= *restartAt && retiredGone(now)) launchBrowser();
    } else if (browser && browser->stage == Stage::Ending) {
        watchEnding(*browser);
    } else if (browser && browser->stage == Stage::Starting && now > browser->bringUpDeadline) {
        restartLater("CV: the browser could not be brought up (no page within 30 s)");
    }
    if (browser && browser->running() && --browser->framesUntilReapCheck <= 0) {
        // A browser that exits is noticed by its closed pipe; reaping it is checked here
        // about once a second so no zombie lingers.
        browser->framesUntilReapCheck = 60;
        browser->process->reapIfExited();
    }
}

float BrowserFlightLoop(float, float, int, void*) {
    guarded("CV: browser backend error", [] {
        const Clock::time_point now = Clock::now();
        tendRetired(now);
        if (browser && browser->connection->hasCompletions()) dispatchCompletions(*browser);
        tendBrowser(now);
    });
    return -1.0f;
}

// Asked to close, the browser writes the profile's storage before it exits; one that is gone
// or ending is not waited for.
void closeBrowser(ChromiumBrowser& last) {
    const bool running = last.running();
    if (running && !last.process->reaped())
        last.connection->send(cdp::Request::Close, "Browser.close", nlohmann::json::object());
    last.process->terminate(running ? closeGrace : std::chrono::milliseconds(0));
    // Joined after the browser is gone; completions not yet dispatched are dropped, the
    // plugin is stopping.
    last.connection.reset();
}

// Everything the backend holds goes: the browser, those given up on, the private profile.
void stopBackend() {
    const Clock::time_point stopStarted = Clock::now();
    std::optional<ChromiumBrowser> last = std::exchange(browser, std::nullopt);
    if (last) closeBrowser(*last);
    restartAt.reset();
    for (auto& r : retired) {
        if (r.process) r.process->terminate(std::chrono::milliseconds(0));
    }
    retired.clear();
    // Only now that no browser runs on it.
    if (!privateProfile.empty()) profileCleanup.discard(privateProfile);
    privateProfile.clear();
    profileCleanup.stop(std::min(stopStarted + stopBound, Clock::now() + cleanupAtStop));
    flightLoop.stop();
    // Snapshots it owed are the capture schedule's to give up on; its dialog goes from the panel.
    if (last) forgetPageDialog(*last);
    resetPage();
    resetInput();
    resetBrowserPolicy();
    profilePlaces.reset();
    usePrivateProfile = false;
    announcedBrowser.clear();
    toldWithoutSandbox = false;
    toldNoEnergySaver = false;
}

}  // namespace

void restartLater(const std::string& what, bool atLongestDelay) {
    // Out of `browser` first: nothing the panel or the schedule does when told reaches it.
    if (std::optional<ChromiumBrowser> gone = std::exchange(browser, std::nullopt)) retire(*gone);
    restartAt = Clock::now() + nextBrowserAfter(backoff, what, atLongestDelay);
}

void bringUpFailed(const char* step, const std::string& why) {
    restartLater(std::string("CV: the browser could not be brought up (") + step + ": " + why + ")");
}

void browserServed() { backoff.served(Clock::now().time_since_epoch()); }

bool initBrowserThread() { return true; }

void createBrowserHostWindow() {}

void startBrowser() {
    if (flightLoop.registered()) return;
    const bool started = guarded("CV: error while starting the browser", [] {
        flightLoop.start();
        backoff = RestartBackoff{};
        launchBrowser();
    });
    // The plugin carries on without a browser, holding nothing of the attempt.
    if (!started) stopBrowser();
}

void stopBrowser() { guarded("CV: error while stopping the browser", stopBackend); }

bool browserViewReady() { return browser && browser->stage == Stage::Ready; }

bool browserControllerReady() { return browserViewReady(); }
