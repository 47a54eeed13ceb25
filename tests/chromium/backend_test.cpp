// Message framing and the zoom geometry of the DevTools backend, its pipe connection to a
// peer that went away, the messages that end a connection, where the lasting browser profile
// lives, the clean-up of abandoned private ones, and how a browser process is started.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_message.h"
#include "browser/chromium/cdp_wire.h"
#include "browser/chromium/child_start.h"
#include "browser/chromium/chromium_process.h"
#include "browser/chromium/local_state.h"
#include "browser/chromium/profile_cleanup.h"

namespace {

std::vector<std::string> drain(cdp::MessageReader& reader) {
    std::vector<std::string> out;
    while (auto m = reader.next()) out.push_back(*m);
    return out;
}

TEST(MessageReader, FailsForGoodOnAnOversizedMessage) {
    cdp::MessageReader reader(16);
    const std::string ok = std::string(16, 'a') + '\0';
    reader.feed(ok.data(), ok.size());
    EXPECT_EQ(drain(reader).size(), 1u);  // exactly the cap is still a message

    const std::string endless(1000, 'x');
    reader.feed(endless.data(), endless.size());
    EXPECT_FALSE(reader.next());
    EXPECT_TRUE(reader.failed());
    // A NUL arriving later does not revive the stream.
    reader.feed("\0{}\0", 4);
    EXPECT_FALSE(reader.next());

    cdp::MessageReader terminated(16);
    const std::string tooLong = std::string(17, 'b') + '\0';
    terminated.feed(tooLong.data(), tooLong.size());
    EXPECT_FALSE(terminated.next());
    EXPECT_TRUE(terminated.failed());
}

TEST(Zoom, ViewportCoversTheSnapshotAndClicksUseTheSameFactor) {
    // The clip is the snapshot in CSS pixels; the layout must cover it whole.
    for (double z : {0.1, 0.45, 0.5, 0.55, 0.75, 1.0, 1.25, 2.0499992}) {
        const cdp::Viewport v = cdp::viewportFor(768, 512, z);
        EXPECT_DOUBLE_EQ(v.deviceScale, z);
        EXPECT_NEAR(v.clipWidth * z, 768.0, 1e-9) << z;
        EXPECT_NEAR(v.clipHeight * z, 512.0, 1e-9) << z;
        EXPECT_GE(v.layoutWidth, v.clipWidth) << z;
        EXPECT_LT(v.layoutWidth - v.clipWidth, 1.0) << z;
        EXPECT_GE(v.layoutHeight, v.clipHeight) << z;
    }
    const cdp::Viewport big = cdp::viewportFor(768, 512, 1.25);
    EXPECT_EQ(big.layoutWidth, 615);  // 614.4 rounded down would leave the snapshot a pixel short
    EXPECT_EQ(big.layoutHeight, 410);
    // Extreme factors are held within a layout the browser can make, clicks included.
    const cdp::Viewport tiny = cdp::viewportFor(768, 512, 1e-30);
    EXPECT_EQ(tiny.deviceScale, 0.05);
    EXPECT_EQ(tiny.layoutWidth, 15360);
    EXPECT_DOUBLE_EQ(cdp::pageToCss(100, 768, tiny.clipWidth), 2000.0);
    EXPECT_EQ(cdp::viewportFor(768, 512, 1e30).deviceScale, 10.0);
    // A snapshot the browser made larger than asked still spans the same part of the page.
    EXPECT_DOUBLE_EQ(cdp::pageToCss(1050, 1152, cdp::viewportFor(768, 512, 0.5).clipWidth), 1400.0);
    // The page scale keeps the layout and the clip: pictures grow, and a pixel of one still
    // lands on the same CSS pixel.
    for (double scale : {1.0, 1.5, 2.0, 2.75}) {
        const cdp::Viewport sharp = cdp::viewportFor(768, 512, 0.5, scale);
        EXPECT_EQ(sharp.layoutWidth, 1536) << scale;
        EXPECT_DOUBLE_EQ(sharp.clipWidth, 1536.0) << scale;
        EXPECT_DOUBLE_EQ(sharp.deviceScale, 0.5 * scale) << scale;
        EXPECT_EQ(sharp.pictureWidth, static_cast<int>(768 * scale)) << scale;
        EXPECT_DOUBLE_EQ(cdp::pageToCss(static_cast<int>(700 * scale), sharp.pictureWidth, sharp.clipWidth), 1400.0);
    }
    EXPECT_FALSE(cdp::usablePageScale(0.75));
    EXPECT_FALSE(cdp::usablePageScale(std::nan("")));
}

// Bytes that are no JSON object, and the events that say our one page is gone, end the
// connection, so the browser is replaced; other events and stray replies are passed over.
TEST(CdpMessage, GarbageAndTheEndOfOurPageAreALossOtherMessagesAreNot) {
    const std::pair<std::string, std::string> cases[] = {
        {"this is not JSON {{{", "the browser sent a message that is not JSON"},
        {"[1, 2]", "the browser sent a message that is not JSON"},
        {R"({"method":"Inspector.targetCrashed","params":{}})", "the page has crashed"},
        {R"({"method":"Target.detachedFromTarget","params":{"sessionId":"S"}})", "the page was detached"},
        {R"({"method":"Inspector.detached","params":{}})", "the page was detached"},
        {R"({"method":"Page.frameNavigated","params":{}})", ""},
        {R"({"id":7,"result":{}})", ""},
    };
    for (const auto& [message, loss] : cases) {
        cdp::PendingRequests pending{{1, {cdp::Request::Snapshot, 42}}};
        std::optional<cdp::Completion> reply;
        std::string reason;
        EXPECT_EQ(cdp::handleMessage(message, pending, reply, reason), loss.empty()) << message;
        EXPECT_EQ(reason, loss) << message;
        EXPECT_FALSE(reply) << message;
        EXPECT_EQ(pending.size(), 1u) << message;
    }
}

// An event we do not act on is dropped unparsed: no JSON past its method is no loss, where it
// is under a method we handle. No method inside a value, no escape and no second method makes
// a reply or an event of ours pass for one to drop.
TEST(CdpMessage, EventsWeDoNotActOnAreDroppedUnparsedRepliesAndOurEventsNever) {
    const std::string broken = R"(,"params":{"value":undefined}})";
    const std::tuple<std::string, bool, bool> cases[] = {
        // the message, kept, completes something
        {R"({"method":"Runtime.consoleAPICalled")" + broken, true, false},
        {R"({"method":"Page.javascriptDialogOpening")" + broken, false, false},
        {R"({"method":"Page.screencastFrame")" + broken, false, false},
        {R"({"id":1,"result":{"data":"iVBORw0KGgo=","x":{"method":"Runtime.consoleAPICalled"}}})", true, true},
        {R"({"id":1,"note":"say \"method\":\"x\" \\","result":{"data":"iVBORw0KGgo="}})", true, true},
        {R"({"method":"Page.javascriptDialogClos\u0065d","params":{}})", true, true},
        {R"({"method":"Runtime.consoleAPICalled","method":"Inspector.targetCrashed","params":{}})", false, false},
    };
    for (const auto& [message, kept, completes] : cases) {
        cdp::PendingRequests pending{{1, {cdp::Request::Snapshot, 42}}};
        std::optional<cdp::Completion> reply;
        std::string reason;
        EXPECT_EQ(cdp::handleMessage(message, pending, reply, reason), kept) << message;
        EXPECT_EQ(reply && reply->ok, completes) << message;
    }
}

TEST(Connection, APeerThatStoppedReadingIsALossNotACrashAndLaterRequestsStillFail) {
    int commands[2], replies[2];
    ASSERT_EQ(::pipe2(commands, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(replies, O_CLOEXEC), 0);
    ::close(commands[0]);  // writing now raises SIGPIPE, which would kill this process
    cdp::Connection connection(commands[1], replies[0]);
    std::vector<cdp::Completion> got;
    auto collect = [&](std::size_t count) {
        for (int i = 0; i < 2000 && got.size() < count; ++i) {
            for (auto& c : connection.takeCompletions()) got.push_back(std::move(c));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    connection.send(cdp::Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    collect(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_FALSE(got[0].ok);
    EXPECT_EQ(got[0].request, cdp::Request::Snapshot);
    EXPECT_EQ(got[1].type, cdp::Completion::Type::Lost);
    // A snapshot asked for after the loss still completes, so capturing is not stuck on it.
    connection.send(cdp::Request::Snapshot, "Page.captureScreenshot", nlohmann::json::object(), "S");
    collect(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_FALSE(got[2].ok);
    ::close(replies[1]);
}

TEST(BrowserProcess, TheLastingProfileFolderIsMadePrivate) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("cv-profile-" + std::to_string(::getpid()));
    fs::remove_all(root);
    std::string error;
    // Every missing level is made for the owner only.
    ASSERT_TRUE(chromium::prepareProfileFolder((root / "share/corvane-toolbar/chromium").string(), error)) << error;
    for (const fs::path& level : {root, root / "share", root / "share/corvane-toolbar/chromium"}) {
        EXPECT_EQ(fs::status(level).permissions(), fs::perms::owner_all) << level;
    }
    // An existing folder open to others is narrowed; a file in its place is refused.
    fs::create_directories(root / "open");
    fs::permissions(root / "open", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec);
    EXPECT_TRUE(chromium::prepareProfileFolder((root / "open").string(), error)) << error;
    EXPECT_EQ(fs::status(root / "open").permissions(), fs::perms::owner_all);
    std::ofstream(root / "file") << "x";
    EXPECT_FALSE(chromium::prepareProfileFolder((root / "file").string(), error));
    EXPECT_EQ(error, "it is not a folder");
    EXPECT_FALSE(chromium::prepareProfileFolder((root / "file/chromium").string(), error));
    fs::remove_all(root);
}

TEST(LocalState, TheEnergySaverIsAskedForAndEverythingElseTheBrowserKeptStays) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("cv-local-state-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path file = root / "Local State";
    auto read = [&] {
        std::ifstream in(file);
        return nlohmann::json::parse(in, nullptr, false);
    };
    auto saver = [&] { return read()["performance_tuning"]["battery_saver_mode"]["state"]; };
    std::string error;

    // A new profile gets a file of its own.
    ASSERT_TRUE(chromium::askForEnergySaver(root.string(), error)) << error;
    EXPECT_EQ(saver(), chromium::energySaverAlwaysOn);

    // The browser's own settings stay, beside and around ours; a setting in the way is replaced.
    std::ofstream(file) << R"({"os_crypt":{"key":"k"},"performance_tuning":{"high_efficiency_mode":)"
                           R"({"state":2},"battery_saver_mode":{"state":1}},"big":"13441334603526039"})";
    ASSERT_TRUE(chromium::askForEnergySaver(root.string(), error)) << error;
    EXPECT_EQ(saver(), chromium::energySaverAlwaysOn);
    EXPECT_EQ(read()["os_crypt"]["key"], "k");
    EXPECT_EQ(read()["performance_tuning"]["high_efficiency_mode"]["state"], 2);
    EXPECT_EQ(read()["big"], "13441334603526039");
    std::ofstream(file) << R"({"performance_tuning":7})";
    ASSERT_TRUE(chromium::askForEnergySaver(root.string(), error)) << error;
    EXPECT_EQ(saver(), chromium::energySaverAlwaysOn);

    // A file that already asks for it is not written again.
    const auto written = fs::last_write_time(file);
    const auto inode = [&] {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_ino;
    };
    const ino_t before = inode();
    ASSERT_TRUE(chromium::askForEnergySaver(root.string(), error)) << error;
    EXPECT_EQ(inode(), before);
    EXPECT_EQ(fs::last_write_time(file), written);

    // What is not the browser's JSON, or is made read-only, is reported and left exactly as it is.
    for (const std::string odd : {"{\"truncated\":", "[1,2]", "{\"name\":\"\xff\"}", "{}"}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << odd;
        if (odd == "{}") fs::permissions(file, fs::perms::owner_read);
        error.clear();
        EXPECT_FALSE(chromium::askForEnergySaver(root.string(), error)) << odd;
        EXPECT_FALSE(error.empty());
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), odd);
    }
    // A FIFO in its place cannot hold us up: it is not opened for reading.
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_FALSE(chromium::askForEnergySaver(root.string(), error));
    EXPECT_EQ(error, "a FIFO (named pipe), not a file");
    fs::remove(file);
    // No half-written file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 0);
    fs::remove_all(root);
}

TEST(ProfileCleanup, ProfilesNoBrowserWillRunOnAgainAreRemovedOffTheCallersThreadOthersKept) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("cv-stale-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    const auto farOff = chromium::ProfileCleanup::Clock::now() + std::chrono::seconds(60);
    // A process id that is certainly free: a child that has exited and been reaped.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    std::string error;
    const fs::path ours = chromium::makePrivateProfile(root.string(), error);
    ASSERT_FALSE(ours.empty()) << error;
    EXPECT_EQ(fs::status(ours).permissions(), fs::perms::owner_all);
    const fs::path stale = root / ("cv-chromium-" + std::to_string(gone) + "-abc123");
    const fs::path givenUp = root / "cv-chromium-gone-xyz789";
    const fs::path unrelated = root / ("cv-chromium-" + std::to_string(gone) + "x-ghi789");
    for (const auto& dir : {stale, givenUp, ours, unrelated}) {
        fs::create_directories(dir / "Default" / "Cache");
        std::ofstream(dir / "Default" / "Preferences") << "{}";
    }
    // A link in a profile is removed, not followed.
    std::ofstream(root / "outside") << "kept";
    fs::create_symlink(root / "outside", stale / "Default" / "link");
    chromium::ProfileCleanup cleanup;
    cleanup.removeStale(root.string());
    cleanup.stop(farOff);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_FALSE(fs::exists(givenUp));
    EXPECT_TRUE(fs::exists(ours / "Default" / "Preferences"));
    EXPECT_TRUE(fs::exists(unrelated));
    EXPECT_TRUE(fs::exists(root / "outside"));

    // Our own profile given up, with a stop that allows it no time: whatever the cut-short
    // removal left goes at the next clean-up, though this process still runs.
    for (int i = 0; i < 500; ++i) std::ofstream(ours / "Default" / "Cache" / std::to_string(i)) << i;
    cleanup.discard(ours.string());
    EXPECT_FALSE(fs::exists(ours));
    cleanup.stop(chromium::ProfileCleanup::Clock::now());
    chromium::ProfileCleanup later;
    later.removeStale(root.string());
    later.stop(farOff);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(root)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{unrelated.filename().string(), "outside"}));
    fs::remove_all(root);
}

TEST(BrowserDiscovery, TheFirstCandidateThereIsIsTakenAndASnapIsKnownByItsCommand) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("cv-discovery-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "b");
    // Google's build before Chromium; a file that cannot be run (b/google-chrome) does not
    // count. Only absolute folders are searched: not an empty or relative entry, under the
    // current folder.
    for (const char* name : {"b/chromium", "b/google-chrome", "b/google-chrome-stable", "google-chrome"}) {
        std::ofstream(root / name) << "#!/bin/sh\n";
        if (name != std::string("b/google-chrome")) fs::permissions(root / name, fs::perms::owner_all);
    }
    const fs::path kept = fs::current_path();
    fs::current_path(root);
    EXPECT_EQ(chromium::findBrowser(":.:" + (root / "b").string()), (root / "b" / "google-chrome-stable").string());
    fs::current_path(kept);
    fs::remove_all(root);

    // Snap commands are links to /usr/bin/snap named after the snap (and app) they run.
    EXPECT_EQ(chromium::snapOf("/home/pilot/bin/chromium", "/usr/bin/snap"), "chromium");
    EXPECT_EQ(chromium::snapOf("/snap/bin/chromium.chromedriver", "/usr/bin/snap"), "chromium");
    EXPECT_EQ(chromium::snapOf("/usr/bin/chromium", "/usr/lib/chromium/chromium"), "");
}

extern "C" char** environ;

// A child started as the browser is, running `script` in sh: the pipe ends its fds 3 and 4
// lead to.
struct Started {
    pid_t pid = -1;
    int error = 0;
    int toChild = -1, fromChild = -1;
};

Started startScript(const std::string& executable, const std::string& script) {
    int toChild[2], fromChild[2];
    EXPECT_EQ(::pipe2(toChild, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(fromChild, O_CLOEXEC), 0);
    const int in = ::fcntl(toChild[0], F_DUPFD_CLOEXEC, 10), out = ::fcntl(fromChild[1], F_DUPFD_CLOEXEC, 10);
    const int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    const int stdio = ::fcntl(devNull, F_DUPFD_CLOEXEC, 10);
    std::vector<std::string> args = {"sh", "-c", script};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Started started;
    started.pid = chromium::startChild({executable.c_str(), argv.data(), environ, stdio, in, out, 1023}, started.error);
    for (int fd : {toChild[0], fromChild[1], in, out, devNull, stdio}) ::close(fd);
    started.toChild = toChild[1];
    started.fromChild = fromChild[0];
    return started;
}

// What the child wrote to its fd 4 (after `line` was written to its fd 3) until it closed
// it by itself, or 20 s passed; then how it ended.
struct Finished {
    std::string output;
    bool closedByItself = false;
    int status = 0;
};

// Appends what a child writes to `fd` to `output` until it closes it by itself (true), or
// 20 s pass.
bool readUntilClosed(int fd, std::string& output) {
    char buffer[4096];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 20000) <= 0) return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return n == 0;
        output.append(buffer, static_cast<std::size_t>(n));
    }
}

Finished finish(const Started& started, const std::string& line) {
    Finished finished;
    if (started.pid > 0) {
        if (!line.empty()) {
            EXPECT_EQ(::write(started.toChild, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        }
        finished.closedByItself = readUntilClosed(started.fromChild, finished.output);
        ::kill(started.pid, SIGKILL);
        ::waitpid(started.pid, &finished.status, 0);
    }
    ::close(started.toChild);
    ::close(started.fromChild);
    return finished;
}

// "key value..." lines into a map.
std::map<std::string, std::string> reportOf(const std::string& output) {
    std::map<std::string, std::string> report;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        report[line.substr(0, space)] += space == std::string::npos ? "" : line.substr(space + 1);
    }
    return report;
}

TEST(BrowserProcess, AChildHasItsOwnGroupOnlyItsDescriptorsDefaultSignalsAndOurEnvironment) {
    // What the simulator may have: a handled signal, an ignored one, SIGPIPE ignored, and a
    // signal blocked on this thread.
    struct sigaction handled {
    }, ignored{}, keptHandled{}, keptUsr2{}, keptPipe{};
    handled.sa_handler = [](int) {};
    ignored.sa_handler = SIG_IGN;
    ::sigaction(SIGUSR1, &handled, &keptHandled);
    ::sigaction(SIGUSR2, &ignored, &keptUsr2);
    ::sigaction(SIGPIPE, &ignored, &keptPipe);
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    ::setenv("CV_CHILD_TEST", "passed on", 1);
    // Not close-on-exec: it must not reach the child all the same.
    const int opened = ::open("/dev/null", O_RDONLY);
    const int stray = ::dup2(opened, 77);
    ::close(opened);

    const Started started =
        startScript("/bin/sh",
                    "read line <&3; echo \"line $line\" >&4; echo \"env $CV_CHILD_TEST\" >&4; "
                    "read pid comm state ppid pgrp rest < /proc/$$/stat; echo \"group $pid $pgrp $ppid\" >&4; "
                    "(cd /proc/$$/fd && echo fds *) >&4; "
                    "(cd /proc/$$/fd && echo stdio $(readlink 0 1 2)) >&4; "
                    "grep -E '^Sig(Blk|Ign)' /proc/$$/status | tr '\\t' ' ' | sed 's/://' >&4");
    const std::string output = finish(started, "hello\n").output;

    ::close(stray);
    ::unsetenv("CV_CHILD_TEST");
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::sigaction(SIGUSR1, &keptHandled, nullptr);
    ::sigaction(SIGUSR2, &keptUsr2, nullptr);
    ::sigaction(SIGPIPE, &keptPipe, nullptr);

    ASSERT_GT(started.pid, 0) << std::strerror(started.error);
    auto report = reportOf(output);
    EXPECT_EQ(report["line"], "hello") << output;
    EXPECT_EQ(report["env"], "passed on");
    std::istringstream group(report["group"]);
    pid_t pid = 0, pgrp = 0, ppid = 0;
    group >> pid >> pgrp >> ppid;
    EXPECT_EQ(pid, started.pid);
    EXPECT_EQ(pgrp, started.pid) << "a process group of its own";
    EXPECT_EQ(ppid, ::getpid());
    EXPECT_EQ(report["fds"], "0 1 2 3 4");
    EXPECT_EQ(report["stdio"], "/dev/null /dev/null /dev/null");
    EXPECT_EQ(std::stoull(report["SigBlk"], nullptr, 16), 0u) << "no signal blocked";
    const unsigned long long ignoredSignals = std::stoull(report["SigIgn"], nullptr, 16);
    EXPECT_NE(ignoredSignals & (1ull << (SIGUSR2 - 1)), 0u) << "an ignored signal stays ignored";
    EXPECT_EQ(ignoredSignals & (1ull << (SIGPIPE - 1)), 0u) << "SIGPIPE is the default again";
}

TEST(BrowserProcess, AChildDiesWithTheThreadThatStartedItAndOneThatCannotRunIsReportedAndReaped) {
    // Started from a thread that then ends, as the simulator's main thread ends when it exits:
    // the kernel kills it, which closes its end of the pipe.
    Started started;
    std::thread([&] { started = startScript("/bin/sh", "exec sleep 600"); }).join();
    ASSERT_GT(started.pid, 0);
    const Finished killed = finish(started, "");
    EXPECT_TRUE(killed.closedByItself) << "it outlived the thread that started it";
    EXPECT_TRUE(WIFSIGNALED(killed.status) && WTERMSIG(killed.status) == SIGKILL);

    // A file that is no program: the start fails with the reason, and no child is left.
    namespace fs = std::filesystem;
    const fs::path notAProgram = fs::temp_directory_path() / ("cv-not-a-program-" + std::to_string(::getpid()));
    std::ofstream(notAProgram) << "no interpreter line\n";
    fs::permissions(notAProgram, fs::perms::owner_all);
    const Started failed = startScript(notAProgram.string(), "");
    EXPECT_EQ(failed.pid, -1);
    EXPECT_EQ(failed.error, ENOEXEC);
    finish(failed, "");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    int toBrowser = -1, fromBrowser = -1;
    std::string error;
    EXPECT_EQ(chromium::BrowserProcess::launch("/nonexistent/chromium", "/tmp", toBrowser, fromBrowser, error),
              nullptr);
    EXPECT_EQ(error, "cannot start it: No such file or directory");
    fs::remove(notAProgram);
}

// Steam starts the simulator with its overlay preloaded and its runtime's old libraries first
// on the library path: the browser gets neither, and within Steam's runtime the system's own
// library path and PATH, which the runtime kept aside, back.
TEST(BrowserProcess, TheBrowserGetsNeitherSteamsOverlayNorItsLibrariesAndInItsRuntimeTheSystemsPaths) {
    const std::filesystem::path browser =
        std::filesystem::temp_directory_path() / ("cv-env-" + std::to_string(::getpid()));
    // In the browser's place: writes its environment, a variable a line, to the pipe it answers on.
    std::ofstream(browser) << "#!/bin/sh\nexec /usr/bin/env >&4\n";
    std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
    std::vector<std::string> simulators;
    for (char** variable = environ; *variable != nullptr; ++variable) simulators.push_back(*variable);
    auto browserSees = [&] {
        int toBrowser = -1, fromBrowser = -1;
        std::string error, seen = "\n";
        const auto process = chromium::BrowserProcess::launch(browser.string(), "/tmp", toBrowser, fromBrowser, error);
        EXPECT_TRUE(process && readUntilClosed(fromBrowser, seen)) << error;
        for (int fd : {toBrowser, fromBrowser}) ::close(fd);
        return seen;
    };
    ::setenv("LD_PRELOAD", "/steam/ubuntu12_64/gameoverlayrenderer.so", 1);
    ::setenv("LD_LIBRARY_PATH", "/steam/steam-runtime/pinned_libs_64:/usr/lib", 1);
    ::setenv("PATH", "/steam/steam-runtime/amd64/bin:/usr/bin:/bin", 1);
    ::setenv("SYSTEM_LD_LIBRARY_PATH", "/opt/host/lib", 1);
    ::setenv("SYSTEM_PATH", "/usr/bin:/bin", 1);
    ::unsetenv("STEAM_RUNTIME");
    std::string seen = browserSees();
    EXPECT_EQ(seen.find("\nLD_PRELOAD="), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\nLD_LIBRARY_PATH="), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nPATH=/steam/steam-runtime/amd64/bin:/usr/bin:/bin\n"), std::string::npos) << seen;

    ::setenv("STEAM_RUNTIME", "/steam/steam-runtime", 1);
    seen = browserSees();
    EXPECT_EQ(seen.find("\nLD_PRELOAD="), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nLD_LIBRARY_PATH=/opt/host/lib\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\nPATH=/usr/bin:/bin\n"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\nSTEAM_RUNTIME="), std::string::npos) << seen;
    ::clearenv();
    for (const auto& v : simulators) ::setenv(v.substr(0, v.find('=')).c_str(), v.substr(v.find('=') + 1).c_str(), 1);
    std::filesystem::remove(browser);
}

// Chromium's sandbox is off only where it cannot start: in a simulator run as root.
TEST(BrowserProcess, OnlyABrowserStartedAsRootGoesWithoutItsSandbox) {
    for (const bool root : {false, true}) {
        const std::vector<std::string> args = chromium::browserArguments("/profile", root);
        EXPECT_EQ(std::count(args.begin(), args.end(), "--no-sandbox"), root ? 1 : 0) << "as root: " << root;
    }
}

TEST(BrowserProcess, ASnapKeepsItsLastingAndItsPrivateProfilesInItsOwnDataFolder) {
    using Places = std::pair<std::string, std::string>;
    auto places = [](const std::string& snap, const char* xdg, const char* home) {
        const chromium::ProfilePlaces p = chromium::profilePlacesFor(snap, xdg, home);
        return Places{p.lasting, p.privateParent};
    };
    EXPECT_EQ(places("", "/x/data", "/home/p"), (Places{"/x/data/corvane-toolbar/chromium", P_tmpdir}));
    EXPECT_EQ(places("", "data", "/home/p"), (Places{"/home/p/.local/share/corvane-toolbar/chromium", P_tmpdir}));
    EXPECT_EQ(places("", nullptr, nullptr), (Places{"", P_tmpdir}));
    // Neither a hidden folder of the home directory nor the host's /tmp: the snap's own folder.
    EXPECT_EQ(places("chromium", "/x/data", "/home/p"), (Places{"/home/p/snap/chromium/common/corvane-toolbar/chromium",
                                                                "/home/p/snap/chromium/common/corvane-toolbar"}));
    EXPECT_EQ(places("chromium", nullptr, "relative"), (Places{"", ""}));
}
}  // namespace
