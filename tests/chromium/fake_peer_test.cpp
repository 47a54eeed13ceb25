// The module in the stand-in simulator with the fake DevTools peer as its browser: the
// faults a real browser shows only now and then, made to happen on cue.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "panel/dialog_picture.h"

namespace {

using namespace harness;

class FakePeer : public ModuleTest {
protected:
    FakePeer() {
        env_["CV_FAKE_CDP_CUES"] = file("cues.txt");
        env_["CV_FAKE_CDP_LOG"] = file("fake.log");
        settings("0.5", 60, "https://panel.example/", CV_FAKE_CDP);
    }
    void cues(const std::string& text) { std::ofstream(file("cues.txt")) << text; }
    // The 2 Hz snapshots instead of live frames, for the stories that count them (after any
    // settings()).
    void snapshotsOnly() { std::ofstream(file("cv_settings.ini"), std::ios::app) << "FrameSource = snapshots\n"; }
    // The fake's log, one "<method> <params> [session=...]" line per command received.
    std::vector<std::string> fakeLog() {
        std::vector<std::string> lines;
        std::istringstream in(slurp(file("fake.log")));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> received(const std::string& method) { return linesOf(fakeLog(), method); }
    // The fake's log per browser started, each opening with its "argv" line. Browsers run one
    // after another: the next starts only once the last is gone.
    std::vector<std::vector<std::string>> launches() {
        std::vector<std::vector<std::string>> groups;
        for (const auto& line : fakeLog()) {
            if (line.rfind("argv ", 0) == 0) groups.emplace_back();
            if (!groups.empty()) groups.back().push_back(line);
        }
        return groups;
    }
    static std::vector<std::string> linesOf(const std::vector<std::string>& lines, const std::string& method) {
        std::vector<std::string> found;
        for (const auto& line : lines)
            if (line.rfind(method + " ", 0) == 0) found.push_back(line);
        return found;
    }
    // The profile folder an "argv" line names.
    static std::string profileIn(const std::string& argv) {
        const std::string flag = " --user-data-dir=";
        const std::size_t from = argv.find(flag) + flag.size();
        return argv.substr(from, argv.find(' ', from) - from);
    }
    static nlohmann::json params(const std::string& line) {
        const std::size_t open = line.find('{');
        const std::size_t session = line.rfind(" session=");
        return nlohmann::json::parse(
            line.substr(open, session == std::string::npos ? std::string::npos : session - open));
    }
};

TEST_F(FakePeer, ASnapshotUnansweredFor10SecondsTimesOutOnceAndItsLateAnswerIsDropped) {
    // The second snapshot is answered after 13 s: it times out at 10 s, the schedule asks
    // again at once, and the late answer that follows is dropped.
    snapshotsOnly();
    cues("late 2 13\n");
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 16\nquit", env_);
    ASSERT_TRUE(eventually([&] { return sim.log().find("within 10 s") != std::string::npos; }, 30)) << sim.log();
    // Nothing else was asked for while the second was outstanding; a new request follows at once.
    EXPECT_LE(received("Page.captureScreenshot").size(), 3u);
    EXPECT_TRUE(eventually([&] { return received("Page.captureScreenshot").size() >= 3; }, 2));
    const int status = sim.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string log = sim.log();
    expectOnce(log, {"CV: the browser did not answer a snapshot within 10 s; asking again.\n",
                     "CV: dropped a snapshot that arrived after its time-out.\n"});
    EXPECT_GT(received("Page.captureScreenshot").size(), 5u) << "snapshots go on after the time-out";
    EXPECT_EQ(log.find("xpsim: leak"), std::string::npos) << log;
}

// The fake page has a text field at page pixels (20, 20)-(320, 60), CSS (40, 40)-(640, 120)
// at zoom 0.5: desktop (200, 940) is on it, (200, 780) is not.
class FakePage : public FakePeer {
protected:
    FakePage() { cues("text-field 40 40 640 120\nexit-on-text Z\n"); }
    bool focusIn(const std::string& stateFile) {
        const auto state = nlohmann::json::parse(slurp(file(stateFile)));
        return state["windows"].at(0)["keyboard_focus"].get<bool>();
    }
    // "type key modifiers" of each key event, and the text of each insertText, in order.
    std::vector<std::string> keyEvents() {
        std::vector<std::string> keys;
        for (const auto& line : received("Input.dispatchKeyEvent")) {
            const auto p = params(line);
            keys.push_back(p["type"].get<std::string>() + " " + p["key"].get<std::string>() + " " +
                           std::to_string(p["modifiers"].get<int>()));
        }
        return keys;
    }
    std::vector<std::string> typed() {
        std::vector<std::string> texts;
        for (const auto& line : received("Input.insertText")) texts.push_back(params(line)["text"]);
        return texts;
    }
};

TEST_F(FakePage, TheKeyboardIsTakenOnlyForATextFieldAndGivenBackOnEscapeHideDisableVrAndALostBrowser) {
    const std::string log = run(
        "command Corvane/TogglePanel once\nwait 1\nclick 200 780\nwait 0.3\nkey a\nstate " + file("plain.json") +
        "\nclick 200 940\nwait-focus on 5\nstate " + file("field.json") +
        "\ntype K\xC3\xB6 \xE2\x86\x92\nkey backspace\nkey shift+tab\nkey escape\nkey b\nstate " + file("escape.json") +
        // Hidden with Shift down in the page: it comes up.
        "\nclick 200 940\nwait-focus on 5\nkey shift+left\ncommand Corvane/TogglePanel once\nframes 2\nstate " +
        file("hidden.json") +
        "\ncommand Corvane/TogglePanel once\nwait 0.3\n"
        "click 200 940\nwait-focus on 5\ndisable\nstate " +
        file("disabled.json") +
        "\nenable\nwait 0.3\n"
        "click 200 940\nwait-focus on 5\nvr on\nstate " +
        file("vr.json") +
        "\nvr off\nwait 0.3\n"
        "hover 300 700\nframes 2\nhover off\nframes 2\n"
        // The fake browser dies with this letter; the next one comes up a second later.
        "click 200 940\nwait-focus on 5\ntype Z\nwait 0.5\nstate " +
        file("lost.json") + "\nquit");
    EXPECT_FALSE(focusIn("plain.json")) << "a click elsewhere on the page leaves the keys with the simulator";
    EXPECT_TRUE(focusIn("field.json"));
    for (const char* given : {"escape.json", "hidden.json", "disabled.json", "vr.json", "lost.json"})
        EXPECT_FALSE(focusIn(given)) << given;
    expectOnce(log, {"xpsim: key 'a' goes to the simulator", "xpsim: key 'b' goes to the simulator"});
    EXPECT_NE(log.find("CV: lost the browser"), std::string::npos) << log;

    // Characters as text, whole; the editing keys as presses; Shift following the flags and
    // released when the keyboard goes back; Escape never reaches the page.
    EXPECT_EQ(typed(), (std::vector<std::string>{"K", "\xC3\xB6", " ", "\xE2\x86\x92", "Z"}));
    EXPECT_EQ(keyEvents(),
              (std::vector<std::string>{"rawKeyDown Shift 8", "keyUp Shift 0", "rawKeyDown Backspace 0",
                                        "keyUp Backspace 0", "rawKeyDown Shift 8", "rawKeyDown Tab 8", "keyUp Tab 8",
                                        "keyUp Shift 0", "rawKeyDown Shift 8", "rawKeyDown ArrowLeft 8",
                                        "keyUp ArrowLeft 8", "keyUp Shift 0", "rawKeyDown Shift 8"}))
        << "the capital Z's Shift went down in the browser that died with it";
    // Hovering: a move to the page point under the pointer, then one off the page.
    const auto moves = received("Input.dispatchMouseEvent");
    const auto at = std::find_if(moves.begin(), moves.end(), [&](const std::string& line) {
        const auto p = params(line);
        return p["type"] == "mouseMoved" && p["x"] == 400.0 && p["y"] == 560.0 && p["buttons"] == 0;
    });
    ASSERT_NE(at, moves.end());
    ASSERT_NE(at + 1, moves.end());
    EXPECT_EQ(params(*(at + 1))["x"], -1);
}

TEST_F(FakePage, TheReloadWaitsWhileThePilotTypesAndComesOnceTheKeyboardIsBack) {
    settings("0.5", 1, "https://panel.example/", CV_FAKE_CDP);
    run("command Corvane/TogglePanel once\nwait 1\nclick 200 940\nwait-focus on 5\ntype x\nwait 3\ntype y\n"
        "key escape\nwait 2\nquit");
    // In the fake's log, in the order received: no reload between the first letter and the
    // second 3 s later, a period of 1 s notwithstanding; one soon after Escape.
    std::vector<std::string> order;
    for (const auto& line : fakeLog()) {
        if (line.rfind("Page.navigate ", 0) == 0) order.push_back("navigate");
        if (line.rfind("Input.insertText ", 0) == 0) order.push_back(params(line)["text"]);
    }
    const auto first = std::find(order.begin(), order.end(), "x");
    const auto second = std::find(order.begin(), order.end(), "y");
    ASSERT_LT(first, second);
    EXPECT_EQ(std::count(first, second, "navigate"), 0);
    EXPECT_GE(std::count(second, order.end(), "navigate"), 1);
}

TEST_F(FakePeer, ABrowserThatKeepsExitingIsStartedAgainAfterDoublingPausesWithTheZoomOfTheMoment) {
    // Each browser exits at its third snapshot and holds Chromium's lock on the pilot's
    // profile while its process exists. The zoom step reaches the first one.
    snapshotsOnly();
    cues("exit 3\nlock-profile\n");
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 1.2\ncommand Corvane/IncreaseWebZoom once\nwait 60\n",
              env_);
    ASSERT_TRUE(eventually([&] { return sim.log().find("(attempt 3).\n") != std::string::npos; }, 60)) << sim.log();
    // Every exited browser is reaped while the simulator runs (other children, such as a
    // sanitizer's symbolizer, are not ours to judge, but none may be left a zombie).
    EXPECT_TRUE(eventually(
        [&] {
            for (const auto& [pid, state] : childrenOf(sim.pid()))
                if (state == 'Z') return false;
            return true;
        },
        5))
        << "an exited browser was not reaped";
    const std::string log = interrupt(sim);

    // One line per attempt, the pause doubling while no browser lasts.
    const std::string lost = "CV: lost the browser (the browser has closed its pipe); trying again in ";
    expectOnce(log, {lost + "1 s (attempt 1).\n", lost + "2 s (attempt 2).\n", lost + "4 s (attempt 3).\n"});
    const auto started = launches();
    // The killed browser's own lock never sent its successor to a private profile.
    EXPECT_EQ(log.find("in use by another simulator"), std::string::npos) << log;
    // Run as root (as in CI), every browser goes without its sandbox, and the log says so once
    // for the start, not once per browser.
    const bool asRoot = ::geteuid() == 0;
    EXPECT_EQ(countOccurrences(log, "CV: the simulator runs as root, so the browser starts without its sandbox.\n"),
              asRoot ? 1 : 0)
        << log;

    ASSERT_EQ(started.size(), 3u);
    for (std::size_t n = 0; n < started.size(); ++n) {
        EXPECT_EQ(profileIn(started[n][0]), profile().string()) << "browser " << n;
        EXPECT_EQ(started[n][0].find(" --no-sandbox ") != std::string::npos, asRoot) << started[n][0];
        EXPECT_EQ(linesOf(started[n], "Page.captureScreenshot").size(), 3u) << "browser " << n;
        if (n == 0) continue;
        // Each new browser comes up at the zoom the pilot chose and on the configured page.
        const auto metrics = linesOf(started[n], "Emulation.setDeviceMetricsOverride");
        ASSERT_FALSE(metrics.empty()) << "browser " << n;
        EXPECT_NEAR(params(metrics[0])["deviceScaleFactor"].get<double>(), 0.55, 1e-6) << "browser " << n;
        const auto navigations = linesOf(started[n], "Page.navigate");
        ASSERT_EQ(navigations.size(), 1u) << "browser " << n;
        EXPECT_EQ(params(navigations[0])["url"], "https://panel.example/");
    }
}

TEST_F(FakePeer, ABringUpTheBrowserRefusesIsOneLinePerAttemptAndTriedAgain) {
    cues("no-page\nrefuse Target.createTarget\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 4\nquit");
    // Started at once, after 1 s and after 2 s more; each asked for a page and refused it.
    const std::string failed = "CV: the browser could not be brought up (Target.createTarget: refused by the fake); ";
    expectOnce(log, {failed + "trying again in 1 s (attempt 1).\n", failed + "trying again in 2 s (attempt 2).\n"});
    // Written when the view goes missing, not at every due snapshot or attempt.
    expectOnce(log, {"CV: error, could not lookup our Webview.\n"});
    EXPECT_EQ(received("Page.captureScreenshot").size(), 0u);
}

TEST_F(FakePeer, ASnapshotOutWhenAReloadOrThePagesOwnNavigationCommitsIsAskedForAgainAtOnce) {
    // As Chromium can, the fake drops the snapshot still out when a navigation commits: the
    // third is held until the next reload (2 s at most) commits, and at the eighth the page
    // navigates by itself, as after a clicked link.
    settings("0.5", 2, "https://panel.example/", CV_FAKE_CDP);
    snapshotsOnly();
    cues("held-until-navigation 3\npage-navigates 8\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 14\nquit");
    expectNone(log, {"within 10 s", "dropped a snapshot"});
    EXPECT_EQ(received("Page.enable").size(), 1u);
    const std::string fake = slurp(file("fake.log"));
    EXPECT_EQ(countOccurrences(fake, "dropped 1 snapshot(s) at a commit"), 2) << fake;
    EXPECT_EQ(countOccurrences(fake, "the page navigates"), 1) << fake;
    // Snapshots went on after both, about two a second.
    EXPECT_GE(received("Page.captureScreenshot").size(), 12u);
}

TEST_F(FakePeer, ZoomStepsBeforeReadinessOnlyChangeTheLevelLaterOnesReachTheHiddenPage) {
    settings("0.45", 60, "https://panel.example/", CV_FAKE_CDP);
    // The first step comes before any frame has run, so before the browser is up.
    run("command Corvane/IncreaseWebZoom once\nwait 1\ncommand Corvane/IncreaseWebZoom once\nwait 1\nquit");
    const auto metrics = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(metrics.size(), 2u);
    // Bring-up takes the stepped level; the later step reaches the page as 0.55.
    EXPECT_NEAR(params(metrics[0])["deviceScaleFactor"].get<double>(), 0.5, 1e-6);
    EXPECT_NEAR(params(metrics[1])["deviceScaleFactor"].get<double>(), 0.55, 1e-6);
    EXPECT_NE(slurp(file("cv_settings.ini")).find("zoomLevel = 0.550000"), std::string::npos);
    // The panel stayed hidden: the page was loaded but never photographed.
    EXPECT_EQ(received("Page.navigate").size(), 1u);
    EXPECT_EQ(received("Page.captureScreenshot").size(), 0u);
}

TEST_F(FakePeer, AZoomStepTakenWhileASnapshotIsOutOutlivesThatSnapshotsAnswer) {
    snapshotsOnly();
    // From the second on, each snapshot is answered 3 s late: one is out at the step.
    cues("late 2+ 3\n");
    run("command Corvane/TogglePanel once\nwait 2\ncommand Corvane/IncreaseWebZoom once\nwait 5\nquit");
    // The device scale the page is left with: the last one set, or the last one put back.
    double scale = 0.0;
    bool putBack = false;
    const std::string putBackLine = "metrics put back: device scale ";
    for (const auto& line : fakeLog()) {
        if (line.rfind("Emulation.setDeviceMetricsOverride ", 0) == 0) {
            scale = params(line)["deviceScaleFactor"].get<double>();
        } else if (line.rfind(putBackLine, 0) == 0) {
            putBack = true;
            scale = std::stod(line.substr(putBackLine.size()));
        }
    }
    ASSERT_TRUE(putBack) << "no snapshot was out at the zoom step:\n" << slurp(file("fake.log"));
    EXPECT_NEAR(scale, 0.55, 1e-6) << slurp(file("fake.log"));
}

TEST_F(FakePeer, AProfileHeldByAnotherBrowserMeansAPrivateOneForTheSessionAndOtherEarlyExitsAreALoss) {
    // Chromium's own lock names a running process on this host: the profile is in use.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    fs::create_directories(profile());
    fs::create_symlink(std::string(host) + "-" + std::to_string(::getpid()), profile() / "SingletonLock");
    snapshotsOnly();
    // The browser on the private profile exits at its second snapshot; the next one runs there too.
    cues("exit 2\n");
    std::string log = run("command Corvane/TogglePanel once\nwait 2.8\nquit");
    expectOnce(log, {"is in use by another simulator; this session uses a private one.\n",
                     "CV: lost the browser (the browser has closed its pipe); trying again in 1 s (attempt 1).\n"});
    EXPECT_EQ(log.find("could not be brought up"), std::string::npos) << log;
    auto started = launches();
    ASSERT_EQ(started.size(), 3u);
    const std::string privateProfile = profileIn(started[1][0]);
    EXPECT_EQ(privateProfile.rfind(P_tmpdir "/cv-chromium-", 0), 0u) << privateProfile;
    // One line names the browser and each profile it ran on, the lasting one first.
    for (const std::string& used : {profile().string(), privateProfile})
        expectOnce(log, {"CV: the panel's browser is " CV_FAKE_CDP ", on the profile " + used + "\n"});
    EXPECT_EQ(profileIn(started[2][0]), privateProfile);
    EXPECT_EQ(linesOf(started[1], "Page.captureScreenshot").size(), 2u);
    // The private folder went with the session; the held profile was left as it was.
    EXPECT_FALSE(fs::exists(privateProfile));
    EXPECT_TRUE(fs::is_symlink(profile() / "SingletonLock"));

    // A browser that dies at start for another reason is lost, and tried again on the pilot's
    // profile.
    fs::remove(profile() / "SingletonLock");
    fs::remove(file("fake.log"));
    cues("exit-at-start 3\n");
    // Quit halfway between the second start (1 s) and the third (3 s).
    log = run("command Corvane/TogglePanel once\nwait 2\nquit");
    EXPECT_EQ(countOccurrences(log, "CV: lost the browser ("), 2) << log;
    EXPECT_EQ(log.find("in use by another simulator"), std::string::npos) << log;
    started = launches();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(profileIn(started[1][0]), profile().string());
}

TEST_F(FakePeer, ARefusedAddressLeavesTheViewReadyAndEachReloadTriesAgain) {
    settings("0.5", 1, "https://panel.example/", CV_FAKE_CDP);
    snapshotsOnly();
    cues("refuse Page.navigate\n");
    // Long enough for the counts below on a machine slow to start the browser.
    const std::string log = run("command Corvane/TogglePanel once\nwait 6\nquit");
    EXPECT_EQ(log.find("could not be brought up"), std::string::npos) << log;
    // Told when it starts, not at every reload.
    expectOnce(log, {"CV: navigation failed: refused by the fake\n"});
    EXPECT_GE(received("Page.navigate").size(), 3u);
    EXPECT_GE(received("Page.captureScreenshot").size(), 4u);
    EXPECT_TRUE(received("Page.startScreencast").empty()) << "FrameSource = snapshots starts none";
}

TEST_F(FakePeer, StopInTheMiddleOfABackOffOrOfABringUpThatNeverEndsLeavesNothingBehind) {
    // The fixture checks that no process outlives either run.
    cues("exit 2\n");
    {
        Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 60\n", env_);
        ASSERT_TRUE(eventually([&] { return sim.log().find("(attempt 1).\n") != std::string::npos; }, 30));
        interrupt(sim);  // within the second before the next browser is due
    }

    // A browser that never answers is given up after 30 s and the next one started; the stop
    // comes while that one is coming up.
    fs::remove(file("fake.log"));
    cues("silent\n");
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 120\n", env_);
    ASSERT_TRUE(eventually([&] { return launches().size() >= 2; }, 60)) << sim.log();
    const std::string log = interrupt(sim);
    expectOnce(log, {"CV: the browser could not be brought up (no page within 30 s)"});
    const auto started = launches();
    EXPECT_EQ(linesOf(started[0], "Browser.close").size(), 0u) << "given up on, it was killed";
    EXPECT_EQ(linesOf(started[1], "Browser.close").size(), 1u) << "at stop it was asked to close first";
}

// Steam's container hides the system's browsers: the line says what the pilot can do there.
TEST_F(FakePeer, InsideSteamsContainerTheMissingBrowserLineSaysWhatToDo) {
    settings("0.5", 60, "https://panel.example/", "");
    fs::create_directories(file("empty-bin"));
    env_["PATH"] = file("empty-bin");
    const std::string hint = "set BrowserPath in cv_settings.ini (X-Plane runs in Steam's container";
    EXPECT_EQ(run("wait 0.5\nquit").find(hint), std::string::npos);
    env_["container"] = "pressure-vessel";
    const std::string log = run("wait 0.5\nquit");
    EXPECT_NE(log.find(hint), std::string::npos) << log;
}

TEST_F(FakePeer, WithNoBrowserAtAllTheLogGetsALineAMinuteAndTheAttemptsGoOn) {
    // A "BrowserPath" that is no program: the first attempt waits the full minute, as below;
    // with that wrong, the minute-long run need not be waited for.
    settings("0.5", 60, "https://panel.example/", file("cv_settings.ini"));
    ASSERT_EQ(countOccurrences(run("wait 0.5\nquit"), " is not an executable file; trying again in 60 s (attempt 1)"),
              1);

    settings("0.5", 60, "https://panel.example/", "");
    fs::create_directories(file("empty-bin"));
    env_["PATH"] = file("empty-bin");
    const std::string notFound = "CV: no Chromium found (";
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 600\n", env_);
    ASSERT_TRUE(eventually([&] { return sim.log().find("xpsim: started") != std::string::npos; }, 30));
    const auto started = std::chrono::steady_clock::now();
    // The first attempt was made during the start; the second comes a minute later.
    ASSERT_TRUE(eventually([&] { return countOccurrences(sim.log(), notFound) >= 2; }, 120)) << sim.log();
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(50));
    const std::string minute = sim.log();
    EXPECT_NE(minute.find("trying again in 60 s (attempt 2).\n"), std::string::npos) << minute;
    // The panel was shown all that minute: the missing view was told when it started, and at
    // most once more.
    EXPECT_LE(countOccurrences(minute, "CV: error, could not lookup our Webview.\n"), 2) << minute;
    EXPECT_GE(countOccurrences(minute, "CV: error, could not lookup our Webview.\n"), 1) << minute;
    interrupt(sim);
    // The key is read, never written.
    EXPECT_EQ(slurp(file("cv_settings.ini")).find("BrowserPath"), std::string::npos);
}

// The page's dialogs, drawn by the panel over the fake's 768 x 512 page shown one boxel per
// pixel: a page point is clicked at desktop (100 + x, 980 - y).
class PageDialogs : public FakePeer {
protected:
    static std::string clickAt(const DialogRect& button) {
        const int x = (button.left + button.right) / 2, y = (button.top + button.bottom) / 2;
        return "click " + std::to_string(100 + x) + " " + std::to_string(980 - y) + "\n";
    }
    // Waits until the panel shows the page's `count`-th dialog of `kind` ("an alert").
    static std::string opened(const std::string& kind, int count = 1) {
        return "wait-log " + std::to_string(count) + " 10 CV: the page opened " + kind + " dialog\n";
    }
    // "accept promptText" of each answer the page got.
    std::vector<std::string> answers() {
        std::vector<std::string> out;
        for (const auto& line : received("Page.handleJavaScriptDialog")) {
            const auto p = params(line);
            out.push_back(std::string(p["accept"].get<bool>() ? "ok" : "cancel") + " " +
                          p["promptText"].get<std::string>());
        }
        return out;
    }
};

TEST_F(PageDialogs, APromptTakesTheTypedTextAnAlertItsOkAndWithClicksOnlyTheButtonsAnswer) {
    cues("dialog 2 prompt Flight number?\ndialog-default AB\n");
    const DialogLayout prompt = layoutDialog({PageDialogKind::Prompt, "Flight number?", ""}, 768, 512);
    // Opened by the page itself, not after a click of the pilot's: it waits without the
    // keyboard until the pilot clicks on it (its text field). Left open past a snapshot's
    // time-out: the page is blocked, not hung, and nothing restarts.
    std::string log = run("command Corvane/TogglePanel once\n" + opened("a prompt") + "wait 1\nstate " +
                          file("waiting.json") + "\n" + clickAt(prompt.field) +
                          "wait-focus on 10\nwait 11\ntype 12\nkey backspace\ntype 3\nkey enter\nwait 0.3\nquit");
    EXPECT_FALSE(nlohmann::json::parse(slurp(file("waiting.json")))["windows"].at(0)["keyboard_focus"].get<bool>());
    expectNone(log, {"xpsim: wait-", "within 10 s", "trying again"});
    EXPECT_EQ(answers(), (std::vector<std::string>{"ok AB13"}));

    fs::remove(file("fake.log"));
    cues("dialog 2 alert Sign-in failed\n");
    const DialogLayout alert = layoutDialog({PageDialogKind::Alert, "Sign-in failed", ""}, 768, 512);
    EXPECT_TRUE(alert.cancel.empty());
    run("command Corvane/TogglePanel once\n" + opened("an alert") + clickAt(prompt.cancel) + "wait 0.3\n" +
        clickAt(alert.ok) + "wait 0.3\nquit");
    EXPECT_EQ(answers(), (std::vector<std::string>{"ok "})) << "a click beside an alert's OK answers nothing";

    fs::remove(file("fake.log"));
    std::ofstream(file("cv_settings.ini"), std::ios::app) << "PanelInput = clicks\n";
    cues("dialog 2 prompt Flight number?\ndialog-default AB\n");
    log = run("command Corvane/TogglePanel once\nwait 3\nkey enter\nstate " + file("s.json") + "\n" +
              clickAt(prompt.ok) + "wait 0.3\nquit");
    EXPECT_FALSE(nlohmann::json::parse(slurp(file("s.json")))["windows"].at(0)["keyboard_focus"].get<bool>());
    EXPECT_EQ(answers(), (std::vector<std::string>{"ok AB"}));
    expectOnce(log, {"CV: the page opened a prompt dialog;"});
}

TEST_F(PageDialogs, ANewWindowIsClosedAndShownInThePanelADownloadRefusedAndThePilotsLeaveQuestionAsked) {
    snapshotsOnly();
    // The window at an address that is no web page is closed and not followed.
    cues("new-window 2 file:///etc/passwd\nnew-window 3 https://panel.example/logbook\ndownload 4+\nleave-question\n");
    const DialogLayout leave = layoutDialog({PageDialogKind::BeforeUnload, "", ""}, 768, 512);
    const std::string log =
        run("command Corvane/TogglePanel once\n" + opened("a leave-page") + clickAt(leave.cancel) + "wait 1\nquit");
    const auto browserCommands = received("Browser.setDownloadBehavior");
    ASSERT_EQ(browserCommands.size(), 1u);
    EXPECT_EQ(params(browserCommands[0])["behavior"], "deny");
    ASSERT_EQ(received("Browser.grantPermissions").size(), 1u);
    EXPECT_EQ(params(received("Browser.grantPermissions")[0])["permissions"], nlohmann::json::array());
    std::set<std::string> closed;
    for (const auto& line : received("Target.closeTarget")) closed.insert(params(line)["targetId"]);
    EXPECT_EQ(closed, (std::set<std::string>{"FAKE-WINDOW-2", "FAKE-WINDOW-3"}));
    const auto navigations = received("Page.navigate");
    ASSERT_EQ(navigations.size(), 2u);
    EXPECT_EQ(params(navigations[1])["url"], "https://panel.example/logbook");
    // That navigation is the pilot's: the page's question before it goes is theirs to answer.
    EXPECT_EQ(answers(), (std::vector<std::string>{"cancel "}));
    expectOnce(log, {"CV: the page opened a new window; the panel shows its page instead.\n",
                     "CV: the page opened a leave-page dialog;", "CV: refused a download the page started.\n"});
    EXPECT_EQ(log.find("could not be answered"), std::string::npos) << log;
}

// Only the windows our page opened are ours to close: those of other openers, or of none (the
// pilot's), are left alone. One of ours left blank is closed as it is, the panel's page staying
// where it is. Each new-window line is told at most once a minute.
TEST_F(PageDialogs, OnlyOurPagesNewWindowsAreClosedOneLeftBlankWithoutANavigationAndEachLineOnceAMinute) {
    snapshotsOnly();
    cues("new-window 3 https://panel.example/logbook\nnew-window 4 https://panel.example/charts\n"
         "new-window 5 https://elsewhere.example/ FAKE-OTHER\nnew-window 6 https://elsewhere.example/ none\n"
         "new-window 7 about:blank\nnew-window 8 file:///etc/passwd\nnew-window 9 file:///etc/hosts\n");
    const std::string log = run("command Corvane/TogglePanel once\nwait 9\nquit");
    std::multiset<std::string> closed;
    for (const auto& line : received("Target.closeTarget")) closed.insert(params(line)["targetId"]);
    EXPECT_EQ(closed, (std::multiset<std::string>{"FAKE-WINDOW-3", "FAKE-WINDOW-4", "FAKE-WINDOW-7", "FAKE-WINDOW-8",
                                                  "FAKE-WINDOW-9"}))
        << log;
    std::vector<std::string> shown;
    for (const auto& line : received("Page.navigate")) shown.push_back(params(line)["url"]);
    EXPECT_EQ(shown, (std::vector<std::string>{"https://panel.example/", "https://panel.example/logbook",
                                               "https://panel.example/charts"}));
    expectOnce(log, {"CV: the page opened a new window; the panel shows its page instead.\n",
                     "CV: the page opened a new window at an address that is not a web page; it was closed.\n"});
}

// A page that opens dialog after dialog: the pilot answers three, every further one of that
// page load is answered at once without being shown, in one line; the next load asks again.
TEST_F(PageDialogs, APageThatFloodsDialogsHasTheRestOfItsLoadAnsweredWithoutThePilot) {
    cues("dialog 2+ alert Again\n");
    settings("0.5", 10, "https://panel.example/", CV_FAKE_CDP);
    const DialogLayout alert = layoutDialog({PageDialogKind::Alert, "Again", ""}, 768, 512);
    std::string script = "command Corvane/TogglePanel once\n";
    for (int n = 1; n <= 3; ++n) script += opened("an alert", n) + clickAt(alert.ok);
    const std::string log =
        run(script + "wait-log 1 10 answered without the pilot\nwait 1\n" + opened("an alert", 4) + "wait 0.5\nquit");
    EXPECT_EQ(log.find("xpsim: wait-"), std::string::npos) << log;
    const auto given = answers();
    EXPECT_GE(given.size(), 5u);
    EXPECT_EQ(given, std::vector<std::string>(given.size(), "ok ")) << "an alert's OK";
    EXPECT_EQ(countOccurrences(log, "CV: the page opened an alert dialog;"), 4) << log;
    expectOnce(log, {"CV: the page opened more than 3 dialogs in 10 s;"});
    EXPECT_EQ(received("Page.navigate").size(), 2u) << "the reload came between the third and the fourth shown";
}

TEST_F(PageDialogs, TheLeaveQuestionOfThePeriodicReloadIsAnsweredAtOnceAndTheReloadGoesOn) {
    cues("leave-question\n");
    settings("0.5", 2, "https://panel.example/", CV_FAKE_CDP);
    const std::string log = run("command Corvane/TogglePanel once\nwait 8\nstate " + file("s.json") + "\nquit");
    EXPECT_GE(received("Page.navigate").size(), 3u);
    EXPECT_EQ(answers(), std::vector<std::string>(received("Page.navigate").size() - 1, "ok "));
    EXPECT_FALSE(nlohmann::json::parse(slurp(file("s.json")))["windows"].at(0)["keyboard_focus"].get<bool>());
    EXPECT_EQ(log.find("opened a leave-page dialog"), std::string::npos) << log;
    expectOnce(log, {"CV: the page asked before the reload whether to leave it; it was left.\n"});
}

// As Chromium does, the fake never answers a snapshot asked for before a navigation has
// committed (it logs it as lost); here each navigation takes 0.8 s, at bring-up and at each
// reload. Without the page's events no commit is told, and nothing would answer such a snapshot
// before its 10 s time-out: none is asked for until the navigation itself is answered.
TEST_F(FakePeer, NoSnapshotIsLostToANavigationWithOrWithoutThePagesEvents) {
    settings("0.5", 2, "https://panel.example/", CV_FAKE_CDP);
    snapshotsOnly();
    for (const char* events : {"", "refuse Page.enable\n"}) {
        cues(std::string("navigate-takes 0.8\n") + events);
        run("command Corvane/TogglePanel once\nwait 9\nquit");
        // Snapshots go on after a reload: a count would depend on how fast the machine starts it.
        const auto lines = fakeLog();
        auto second = lines.begin();
        for (int seen = 0; second != lines.end() && seen < 2; ++second) seen += second->rfind("Page.navigate ", 0) == 0;
        EXPECT_FALSE(linesOf({second, lines.end()}, "Page.captureScreenshot").empty()) << events;
        EXPECT_EQ(slurp(file("fake.log")).find("during a navigation is lost"), std::string::npos) << events;
        fs::remove(file("fake.log"));
    }
}

// Live frames, with every snapshot refused: what the panel shows came from the screencast. It
// runs while the panel is shown, at the picture's size, and each showing takes one snapshot at
// once. At every page scale the page keeps its layout and a click lands on the same CSS pixel:
// desktop (300, 940) at scale 1, (500, 980) at 2, (400, 1000) at 1.5 are page CSS (200, 40) at
// zoom 1, which input reaches in the view the page is scaled into, at (200, 40) times the scale.
TEST_F(FakePeer, LiveFramesAreThePanelsPicturesWhileShownAtEveryScaleAndClicksLandWhereThePilotPoints) {
    settings("1", 60, "https://panel.example/", CV_FAKE_CDP);
    cues("refuse Page.captureScreenshot\n");
    // Shown once the page has loaded: a load restarts a running screencast (below).
    const std::string log = run("wait 2\ncommand Corvane/TogglePanel once\nwait 1.5\nscreenshot " + file("first.png") +
                                "\nclick 300 940\ncommand Corvane/TogglePanel once\nwait 0.5\n"
                                "command Corvane/TogglePanel once\nwait 1\nscreenshot " +
                                file("again.png") +
                                "\ngeometry 100 1060 1636 36\nwait 1\nclick 500 980\n"
                                "geometry 100 1060 1252 292\nwait 1\nclick 400 1000\nwait 0.5\nquit");
    EXPECT_EQ(log.find("CV: no live frames"), std::string::npos) << log;
    EXPECT_TRUE(near(readPng(file("first.png")).page(5, 5), 255, 0, 0)) << "no frame reached the panel";

    // In the order received: starts, stops, snapshots and frames.
    std::vector<std::string> order;
    std::vector<int> startWidths;
    int frames = 0, acks = 0, shownFrame = 0;
    for (const auto& line : fakeLog()) {
        if (line.rfind("Page.startScreencast ", 0) == 0) {
            startWidths.push_back(params(line)["maxWidth"]);
            order.push_back("start");
        }
        if (line.rfind("Page.stopScreencast ", 0) == 0) order.push_back("stop");
        if (line.rfind("Page.captureScreenshot ", 0) == 0) order.push_back("snapshot");
        if (line.rfind("screencast-frame ", 0) == 0) {
            ++frames;
            // The frame of the second showing's start is the panel's picture then.
            if (startWidths.size() == 2 && shownFrame == 0) shownFrame = std::stoi(line.substr(17));
        }
        acks += line.rfind("Page.screencastFrameAck ", 0) == 0;
    }
    EXPECT_EQ(startWidths, (std::vector<int>{768, 768, 1536, 1152}));
    const auto hidden = std::find(order.begin(), order.end(), "stop");
    const auto scaled = std::find(hidden + 1, order.end(), "stop");
    EXPECT_EQ(std::count(hidden, scaled, "start"), 1);
    EXPECT_EQ(std::count(hidden, scaled, "snapshot"), 1) << "one snapshot at the showing";
    const Pixel again = readPng(file("again.png")).page(384, 256);
    EXPECT_TRUE(near(again, 40 * shownFrame % 256, 40 * shownFrame % 256, 40 * shownFrame % 256, 2))
        << again.r << " for frame " << shownFrame;
    // Every frame is acknowledged (the last maybe not yet at the quit), none twice.
    EXPECT_GE(acks, frames - 1);
    EXPECT_EQ(slurp(file("fake.log")).find("acknowledged a frame never sent"), std::string::npos);

    std::vector<double> clicks;
    for (const auto& line : received("Input.dispatchMouseEvent")) {
        const auto p = params(line);
        if (p["type"] != "mousePressed") continue;
        clicks.push_back(p["x"].get<double>() / 200.0);
        EXPECT_NEAR(p["y"].get<double>() / 40.0, clicks.back(), 0.03) << line;
    }
    ASSERT_EQ(clicks.size(), 3u);
    const double scales[] = {1.0, 2.0, 1.5};
    for (std::size_t n = 0; n < clicks.size(); ++n) EXPECT_NEAR(clicks[n], scales[n], 0.01) << n;
}

// A screencast kept across a reload can fall silent in Chromium: each load while it runs
// starts it again.
TEST_F(FakePeer, EachLoadWhileTheScreencastRunsStartsItAgain) {
    settings("1", 1, "https://panel.example/", CV_FAKE_CDP);
    const std::string log = run("wait 2\ncommand Corvane/TogglePanel once\nwait 3.5\nquit");
    EXPECT_EQ(log.find("CV: no live frames"), std::string::npos) << log;
    std::string order;  // n: a navigation, a: a start, o: a stop
    for (const auto& line : fakeLog()) {
        if (line.rfind("Page.navigate ", 0) == 0) order += 'n';
        if (line.rfind("Page.startScreencast ", 0) == 0) order += 'a';
        if (line.rfind("Page.stopScreencast ", 0) == 0) order += 'o';
    }
    const std::size_t shown = order.find('a');
    ASSERT_NE(shown, std::string::npos) << order;
    const std::string reloads = order.substr(shown + 1);
    // Every reload after the showing is followed by a stop and a start, before the next.
    EXPECT_GE(std::count(reloads.begin(), reloads.end(), 'n'), 2) << order;
    for (std::size_t at = reloads.find('n'); at != std::string::npos; at = reloads.find('n', at + 1)) {
        const std::size_t next = reloads.find('n', at + 1);
        if (next == std::string::npos) break;  // the last may not have loaded before the quit
        EXPECT_EQ(reloads.substr(at, next - at), "noa") << order;
    }
}

// A page painting at every frame is shown by shots (JPEGs at the simulator's pace) instead of
// its screencast until its picture stays the same; the screencast then takes over again. A
// browser that fails a shot keeps its screencast, told once.
TEST_F(FakePeer, ABusyPageIsShownByShotsUntilItStandsStill) {
    settings("1", 0, "https://panel.example/", CV_FAKE_CDP);
    // In the order received: a: a start, o: a stop, j: a shot, s: a snapshot, f: a frame.
    const auto order = [&](int& lastFrame) {
        std::string seen;
        for (const auto& line : fakeLog()) {
            if (line.rfind("Page.startScreencast ", 0) == 0) seen += 'a';
            if (line.rfind("Page.stopScreencast ", 0) == 0) seen += 'o';
            if (line.rfind("Page.captureScreenshot ", 0) == 0) seen += params(line)["format"] == "jpeg" ? 'j' : 's';
            if (line.rfind("screencast-frame ", 0) == 0) {
                seen += 'f';
                lastFrame = std::stoi(line.substr(17));
            }
        }
        return seen;
    };
    cues("animate 80\n");
    std::string log =
        run("wait 2\ncommand Corvane/TogglePanel once\nwait 8\nscreenshot " + file("still.png") + "\nquit");
    EXPECT_EQ(log.find("CV: no live frames"), std::string::npos) << log;
    int lastFrame = 0;
    std::string seen = order(lastFrame);
    const std::size_t stop = seen.find('o'), again = seen.rfind('a');
    ASSERT_NE(stop, std::string::npos) << seen;
    ASSERT_LT(stop, again) << seen;
    const std::string shots = seen.substr(stop + 1, again - stop - 1);
    // Shots alone until the picture stood still for ten of them; none after.
    EXPECT_EQ(shots.find_first_not_of('j'), std::string::npos) << seen;
    EXPECT_GE(shots.size(), 10u) << seen;
    EXPECT_EQ(seen.find('j', again), std::string::npos) << seen;
    const Pixel still = readPng(file("still.png")).page(384, 256);
    EXPECT_TRUE(near(still, 40 * lastFrame % 256, 40 * lastFrame % 256, 40 * lastFrame % 256, 2))
        << still.r << " for frame " << lastFrame << ": " << seen;

    fs::remove(file("fake.log"));
    cues("animate\nrefuse Page.captureScreenshot\n");
    log = run("wait 2\ncommand Corvane/TogglePanel once\nwait 6\nquit");
    expectOnce(log, {"CV: the browser could not take a picture of the busy page (refused by the fake); its "
                     "screencast goes on.\n",
                     "CV: the browser could not"});
    seen = order(lastFrame);
    const std::size_t resumed = seen.rfind('a');
    EXPECT_EQ(seen.find('j', resumed), std::string::npos) << seen;
    EXPECT_GE(std::count(seen.begin() + static_cast<long>(resumed), seen.end(), 'f'), 10) << seen;
}

// A screencast refused, silent or hidden from the browser falls back to the 2 Hz snapshots for
// the browser's life, told once; a refused visible size only costs the frames their finer
// pixels.
TEST_F(FakePeer, ARefusedSilentOrHiddenScreencastGivesSnapshotsAndOneLine) {
    const std::tuple<const char*, const char*, std::size_t> cases[] = {
        // the cue, why, the stops sent
        {"screencast-refused", "the browser refused it: refused by the fake", 0},
        {"screencast-silent", "the screencast sent no frame within 3 s", 1},
        {"screencast-hidden@1", "the browser reports the page hidden from it", 1},
    };
    const std::string script = "wait 2\ncommand Corvane/TogglePanel once\nwait 5\ncommand Corvane/TogglePanel "
                               "once\nwait 0.3\ncommand Corvane/TogglePanel once\nwait 1.5\nquit";
    for (const auto& [cue, why, stops] : cases) {
        fs::remove(file("fake.log"));
        cues(std::string(cue) + "\n");
        const std::string log = run(script);
        expectOnce(log, {std::string("CV: no live frames from the browser (") + why +
                             "); showing snapshots twice a second instead.\n",
                         "CV: no live frames"});
        EXPECT_EQ(received("Page.startScreencast").size(), 1u) << cue;
        EXPECT_EQ(received("Page.stopScreencast").size(), stops) << cue;
        EXPECT_GE(received("Page.captureScreenshot").size(), 5u) << cue;
    }

    // Without a visible size of its own, the page is laid out again unscaled: frames come on,
    // at the layout's size, told once.
    fs::remove(file("fake.log"));
    settings("1", 60, "https://panel.example/", CV_FAKE_CDP);
    cues("refuse Emulation.setVisibleSize\n");
    const std::string log = run("vr on\ncommand Corvane/TogglePanel once\nwait 1.5\nquit");
    expectOnce(log, {"CV: the browser cannot set its visible size"});
    EXPECT_EQ(log.find("CV: no live frames"), std::string::npos) << log;
    const auto metrics = received("Emulation.setDeviceMetricsOverride");
    ASSERT_EQ(metrics.size(), 2u);
    EXPECT_TRUE(params(metrics[0]).contains("scale"));
    EXPECT_FALSE(params(metrics[1]).contains("scale"));
    EXPECT_EQ(received("Emulation.setVisibleSize").size(), 1u);
}

// ---- The panel where the pilot wants it ----

nlohmann::json panelState(const std::string& path) { return nlohmann::json::parse(slurp(path))["windows"].at(0); }
std::vector<int> rectOf(const nlohmann::json& window) {
    return {window["left"].get<int>(), window["top"].get<int>(), window["right"].get<int>(),
            window["bottom"].get<int>()};
}

TEST_F(FakePage, PoppedOutThePanelShowsThePageTakesClicksKeysAndTheWheelAndPopsBackInWhereItWas) {
    // The window pops out at its desktop place, 768 x 512 pixels; (100, 40) of it is on the
    // page's text field.
    const std::string log =
        run("command Corvane/TogglePanel once\nwait 1\ncommand Corvane/PopOutPanel once\nwait 1.5\nstate " +
            file("out.json") + "\nscreenshot-popout " + file("out.png") +
            "\npopout click 100 40\nwait-focus on 5\ntype Hi\nkey escape\npopout wheel 400 300 1\nwait 0.5\n"
            "command Corvane/PopOutPanel once\nframes 2\nstate " +
            file("in.json") + "\nvr on\ncommand Corvane/PopOutPanel once\nframes 2\nstate " + file("vr.json") +
            "\nvr off\nquit");
    const auto out = panelState(file("out.json"));
    EXPECT_EQ(out["positioning_mode"], 4);
    EXPECT_TRUE(out["drawn"].get<bool>());
    EXPECT_TRUE(near(readPng(file("out.png")).at(5, 5), 255, 0, 0)) << "the page's red corner";
    EXPECT_EQ(typed(), (std::vector<std::string>{"H", "i"}));
    // The wheel still zooms there: the step is saved.
    EXPECT_NE(slurp(file("cv_settings.ini")).find("zoomLevel = 0.550000"), std::string::npos);
    EXPECT_EQ(log.find("passed on by every window"), std::string::npos) << log;

    EXPECT_EQ(panelState(file("in.json"))["positioning_mode"], 0);
    EXPECT_EQ(panelState(file("vr.json"))["positioning_mode"], 5);
    expectOnce(log, {"CV: the panel cannot be popped out in VR.\n"});
}

TEST_F(FakePeer, ThePlaceInsideAndPoppedOutComesBackAtTheNextStartAndOntoASmallerScreen) {
    const std::string show = "command Corvane/TogglePanel once\nwait 0.5\n";
    run(show + "geometry 300 900 1068 388\nquit");
    // Then popped out and moved past the monitor's right edge.
    run("frames 2\nstate " + file("inside.json") + "\n" + show +
        "command Corvane/PopOutPanel once\nframes 2\ngeometry 1200 1000 1968 488\nquit");
    EXPECT_EQ(rectOf(panelState(file("inside.json"))), (std::vector<int>{300, 900, 1068, 388}));

    // On a screen of 1000 x 700 it is popped out again once shown, and both places come back
    // whole on the screen.
    xpsimOptions_ = {"--screen", "0,700,1000,0"};
    run(show + "state " + file("small-out.json") + "\ncommand Corvane/PopOutPanel once\nframes 2\nstate " +
        file("small-in.json") + "\nquit");
    const auto out = panelState(file("small-out.json"));
    EXPECT_EQ(out["positioning_mode"], 4);
    EXPECT_EQ(out["os_geometry"], nlohmann::json::parse("[232, 700, 1000, 188]"));
    EXPECT_EQ(rectOf(panelState(file("small-in.json"))), (std::vector<int>{232, 700, 1000, 188}));

    // A pilot who never moves the panel finds the file as it was; one who pops it out finds the
    // new place in lines of their own.
    settings("0.5", 60, "https://panel.example/", CV_FAKE_CDP);
    const std::string before = slurp(file("cv_settings.ini"));
    xpsimOptions_.clear();
    run(show + "command Corvane/TogglePanel once\nframes 2\ncommand Corvane/TogglePanel once\nquit");
    EXPECT_EQ(slurp(file("cv_settings.ini")), before);
    run(show + "command Corvane/PopOutPanel once\nframes 2\nquit");
    EXPECT_EQ(slurp(file("cv_settings.ini")),
              before + "PanelMode = popout\nPanelLeft = 100\nPanelTop = 980\nPanelRight = 868\nPanelBottom = 468\n"
                       "PopOutLeft = 100\nPopOutTop = 980\nPopOutRight = 868\nPopOutBottom = 468\n");
}

TEST_F(FakePeer, DimmedThePictureIsDarkerTheCommandsStepAndSaveItAndTheWheelScrollsThePage) {
    std::ofstream(file("cv_settings.ini"), std::ios::app) << "PanelBrightness = 0.5\nPanelWheel = scroll\n";
    std::string brighter;
    for (int i = 0; i < 6; ++i) brighter += "command Corvane/PanelBrighter once\n";
    const std::string log = run("command Corvane/TogglePanel once\nwait 1.5\nscreenshot " + file("dim.png") + "\n" +
                                brighter + "frames 2\nscreenshot " + file("full.png") +
                                "\ncommand Corvane/PanelDimmer once\nwheel 400 700 -2\nwheel 400 700 1 horizontal\n"
                                "wait 0.5\nquit");
    EXPECT_TRUE(near(readPng(file("dim.png")).page(5, 5), 128, 0, 0, 6));
    EXPECT_TRUE(near(readPng(file("full.png")).page(5, 5), 255, 0, 0, 6)) << "no brighter than full";
    const std::string saved = slurp(file("cv_settings.ini"));
    EXPECT_NE(saved.find("PanelBrightness = 0.900000"), std::string::npos) << saved;
    EXPECT_NE(saved.find("zoomLevel = 0.5\n"), std::string::npos) << "the wheel zoomed: " << saved;
    // Desktop (400, 700) is page (300, 280), CSS (600, 560) at zoom 0.5; turned towards the
    // pilot the page scrolls down, a notch 100 CSS pixels.
    std::vector<std::string> wheels;
    for (const auto& line : received("Input.dispatchMouseEvent")) {
        const auto p = params(line);
        if (p["type"] == "mouseWheel")
            wheels.push_back(p["x"].dump() + " " + p["y"].dump() + " " + p["deltaX"].dump() + " " + p["deltaY"].dump());
    }
    EXPECT_EQ(wheels, (std::vector<std::string>{"600.0 560.0 0.0 200.0", "600.0 560.0 100.0 0.0"}));
    EXPECT_EQ(log.find("passed on by every window"), std::string::npos) << log;
}

TEST_F(FakePeer, TheCommandsReloadTheConfiguredPageAndGoBackAndThePageIsToldTheColourScheme) {
    std::ofstream(file("cv_settings.ini"), std::ios::app) << "PanelColorScheme = dark\n";
    std::string log = run("command Corvane/TogglePanel once\nwait 1\ncommand Corvane/ReloadPage once\nwait 0.5\n"
                          "command Corvane/PageBack once\nwait 0.5\nquit");
    std::vector<std::string> order;
    for (const auto& line : fakeLog()) {
        const auto space = line.find(' ');
        const std::string method = line.substr(0, space);
        if (method == "Page.navigate") order.push_back(method + " " + params(line)["url"].get<std::string>());
        if (method == "Emulation.setEmulatedMedia") order.push_back(method + " " + params(line)["features"].dump());
        if (method == "Runtime.evaluate" && params(line)["expression"] == "history.back()") order.push_back(method);
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{
                  "Emulation.setEmulatedMedia [{\"name\":\"prefers-color-scheme\",\"value\":\"dark\"}]",
                  "Page.navigate https://panel.example/", "Page.navigate https://panel.example/", "Runtime.evaluate"}));

    // A browser that cannot take it says so, once.
    fs::remove(file("fake.log"));
    cues("refuse Emulation.setEmulatedMedia\n");
    log = run("wait 1\nquit");
    expectOnce(log, {"CV: the page could not be told the pilot's colour scheme"});
}

}  // namespace
