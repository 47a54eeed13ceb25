// The browser seam on Linux: headless Chromium, driven over its DevTools pipe.
//
// Main-thread state only. The I/O thread of cdp::Connection turns replies into completions;
// BrowserFlightLoop, run every frame, hands them to the rest of the plugin here, so every
// completion (bring-up steps and snapshots alike) happens on the simulator's main thread.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "browser/browser.h"
#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_wire.h"
#include "browser/chromium/chromium_process.h"
#include "browser/chromium/snapshot_request.h"
#include "pipeline/capture.h"
#include "pipeline/frame.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

enum class Stage {
    Off,       // not started, or stopped
    Starting,  // the process runs; the page session is being set up
    Ready,     // attached to the page; bring-up commands sent
    Ending,    // it closed its pipe while starting on the pilot's profile: is the profile taken?
    Gone,      // bring-up failed or the browser was lost: the plugin carries on without it
};

Stage stage = Stage::Off;
std::string browserExecutable;
std::unique_ptr<chromium::BrowserProcess> browserProcess;
std::unique_ptr<cdp::Connection> connection;
std::string pageSession;
bool flightLoopRegistered = false;
// Until the bring-up's viewport has been accepted, its refusal is a failed bring-up rather
// than a zoom step the page did not take.
bool bringUpViewportPending = false;
// Navigation trouble (a refused address, a page that does not load) comes back at every reload.
RepeatingLine navigationTrouble;
// The size the page is laid out for, fixed at bring-up like the controller bounds on Windows.
int viewportWidth = 768;
int viewportHeight = 512;
// The zoom the page is shown at; a refused factor leaves it as it was.
double pageZoom = 1.0;
int framesUntilReapCheck = 0;
// While Ending: why the pipe closed, and how long its exit status is waited for.
std::string endingReason;
std::chrono::steady_clock::time_point endingDeadline;

// Asked to close, Chromium writes the profile and exits in a few tenths of a second; past this
// it is killed, so a stop never stalls the simulator for more than 2 s in all.
constexpr std::chrono::milliseconds closeGrace{1500};
constexpr std::chrono::seconds endingWait{5};

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

void sendNavigate(const std::wstring& url) {
    connection->send(cdp::Request::Navigate, "Page.navigate", {{"url", cdp::toUtf8(url)}}, pageSession);
}

// Gives up on the browser for this run: one log line, the process killed (it is reaped by the
// flight loop or at stop). Replies still in flight complete as failed through the connection.
void abandonBrowser(const std::string& line) {
    if (stage == Stage::Gone || stage == Stage::Off) return;
    stage = Stage::Gone;
    pageSession.clear();
    debugLog("%s", line.c_str());
    if (browserProcess) browserProcess->kill();
}

void browserLost(const std::string& why) {
    abandonBrowser("CV: lost the browser (" + why + "); carrying on without it.\n");
}

void bringUpFailed(const char* step, const std::string& why) {
    abandonBrowser(std::string("CV: the browser could not be brought up (") + step + ": " + why +
                   "); carrying on without it.\n");
}

void attachTo(const std::string& targetId) {
    connection->send(cdp::Request::Attach, "Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
}

void onAttached(const std::string& sessionId) {
    pageSession = sessionId;
    viewportWidth = pageWidth.load();
    viewportHeight = pageHeight.load();
    // Zoom steps taken while the browser came up only changed zoomLevel; it is applied now.
    // A factor the page would refuse leaves it at 100 %.
    pageZoom = cdp::usableZoom(zoomLevel) ? static_cast<double>(zoomLevel) : 1.0;
    sendViewport();
    sendNavigate(webUrl);
    bringUpViewportPending = true;
    stage = Stage::Ready;
}

void tellNavigationTrouble(const char* what, const std::string& why) {
    if (navigationTrouble.due()) debugLog("CV: %s: %s\n", what, why.c_str());
}

void dispatch(cdp::Completion& c) {
    if (c.type == cdp::Completion::Type::Lost) {
        if (stage != Stage::Ending) browserLost(c.text);
        return;
    }
    if (c.request == cdp::Request::Snapshot) {
        // Exactly once per started snapshot, whatever became of the browser meanwhile.
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
    case cdp::Request::Navigate:
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
    default:
        break;
    }
}

// Starts the browser on `profile` ("" for a private temporary one) and asks for its pages.
void launchBrowser(const std::string& profile) {
    try {
        int toBrowser = -1, fromBrowser = -1;
        std::string error;
        browserProcess = chromium::BrowserProcess::launch(browserExecutable, profile, toBrowser, fromBrowser, error);
        if (!browserProcess) {
            debugLog("CV: could not start the browser %s: %s; carrying on without it.\n", browserExecutable.c_str(),
                     error.c_str());
            stage = Stage::Gone;
            return;
        }
        connection = std::make_unique<cdp::Connection>(toBrowser, fromBrowser);
        if (!flightLoopRegistered) {
            XPLMRegisterFlightLoopCallback(BrowserFlightLoop, -1.0f, nullptr);
            flightLoopRegistered = true;
        }
        framesUntilReapCheck = 60;
        stage = Stage::Starting;
        connection->send(cdp::Request::ListTargets, "Target.getTargets", nlohmann::json::object());
    } catch (const std::exception& e) {
        debugLog("CV: could not start the browser: %s; carrying on without it.\n", e.what());
        connection.reset();
        browserProcess.reset();  // killed and reaped
        stage = Stage::Gone;
    }
}

// The pilot's own profile, so logins and site storage last from one session to the next;
// "" (a private temporary profile) when it cannot be had.
std::string profileForThisSession() {
    const std::string folder = chromium::persistentProfileFolder();
    std::string error = "there is no home folder";
    if (!folder.empty() && chromium::prepareProfileFolder(folder, error)) return folder;
    debugLog("CV: cannot keep the browser profile in %s (%s); this session uses a private one.\n",
             folder.empty() ? "the home folder" : folder.c_str(), error.c_str());
    return {};
}

// The browser closed its pipe while starting on the pilot's profile. If it exits with
// Chromium's "profile in use" status, another simulator's browser holds that profile, and
// this session runs on a private one; any other end is a lost browser.
void watchEnding() {
    if (browserProcess->reapIfExited()) {
        if (!browserProcess->exitedWith(chromium::profileInUseExitCode)) return browserLost(endingReason);
        const std::string taken = browserProcess->profileFolder();
        connection.reset();
        browserProcess.reset();
        debugLog("CV: the browser profile %s is in use by another simulator; this session uses a private one.\n",
                 taken.c_str());
        launchBrowser({});
    } else if (std::chrono::steady_clock::now() > endingDeadline) {
        browserLost(endingReason);
    }
}

float BrowserFlightLoop(float, float, int, void*) {
    try {
        if (connection && connection->hasCompletions()) {
            auto completions = connection->takeCompletions();
            // A connection reports its loss together with the requests it fails, in one batch.
            const auto lost = std::find_if(completions.begin(), completions.end(),
                                           [](const auto& c) { return c.type == cdp::Completion::Type::Lost; });
            if (lost != completions.end() && stage == Stage::Starting && !browserProcess->privateProfile()) {
                stage = Stage::Ending;
                endingReason = lost->text;
                endingDeadline = std::chrono::steady_clock::now() + endingWait;
            }
            for (auto& completion : completions) dispatch(completion);
        }
        if (stage == Stage::Ending) {
            watchEnding();
        } else if (browserProcess && --framesUntilReapCheck <= 0) {
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

// The executable named by "BrowserPath", else the first known browser on PATH.
std::string locateBrowser() {
    const char* configured = settingsIni.GetValue("General", "BrowserPath", nullptr);
    if (configured != nullptr && *configured != '\0') {
        if (chromium::isExecutableFile(configured)) return configured;
        debugLog("CV: BrowserPath %s is not an executable file; carrying on without a browser.\n", configured);
        return {};
    }
    const char* path = std::getenv("PATH");
    const std::string searchPath = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (const char* name : chromium::browserNames) {
        if (auto found = chromium::findOnPath(name, searchPath)) return *found;
    }
    debugLog("CV: no Chromium found (looked for chromium, chromium-browser, google-chrome-stable, google-chrome on "
             "PATH); set BrowserPath in cv_settings.ini.\n");
    return {};
}

void release() {
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
    if (flightLoopRegistered) {
        XPLMUnregisterFlightLoopCallback(BrowserFlightLoop, nullptr);
        flightLoopRegistered = false;
    }
    pageSession.clear();
    navigationTrouble.clear();
    stage = Stage::Off;
}

}  // namespace

bool initBrowserThread() { return true; }

void createBrowserHostWindow() {}

void startBrowser() {
    try {
        if (stage != Stage::Off) return;
        browserExecutable = locateBrowser();
        if (browserExecutable.empty()) {
            stage = Stage::Gone;
            return;
        }
        launchBrowser(profileForThisSession());
    } catch (const std::exception& e) {
        debugLog("CV: could not start the browser: %s; carrying on without it.\n", e.what());
        release();
        stage = Stage::Gone;
    } catch (...) {
        debugLog("CV: could not start the browser; carrying on without it.\n");
        release();
        stage = Stage::Gone;
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
        sendNavigate(url);
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
    if (stage != Stage::Ready) return;
    try {
        const double x = cdp::pageToCss(pageX, pageZoom);
        const double y = cdp::pageToCss(pageY, pageZoom);
        connection->send(cdp::Request::Input, "Input.dispatchMouseEvent",
                         {{"type", "mousePressed"}, {"x", x}, {"y", y}, {"button", "left"}, {"buttons", 1},
                          {"clickCount", 1}, {"modifiers", 0}},
                         pageSession);
        connection->send(cdp::Request::Input, "Input.dispatchMouseEvent",
                         {{"type", "mouseReleased"}, {"x", x}, {"y", y}, {"button", "left"}, {"buttons", 0},
                          {"clickCount", 1}, {"modifiers", 0}},
                         pageSession);
    } catch (const std::exception& e) {
        debugLog("CV: could not send a click: %s\n", e.what());
    }
}

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (stage != Stage::Ready) return false;
    // A failure to send it throws to the capture schedule, which reports it.
    connection->send(cdp::Request::Snapshot, "Page.captureScreenshot",
                     cdp::snapshotParams(cdp::viewportFor(viewportWidth, viewportHeight, pageZoom)), pageSession,
                     ticket);
    return true;
}
