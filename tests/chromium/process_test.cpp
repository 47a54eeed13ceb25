// Starting, finding and ending the browser process, with the fake DevTools peer as browser.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "browser/chromium/chromium_process.h"

namespace fs = std::filesystem;

namespace {

std::string exeOf(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

// Waits, bounded, until the child has exec'd the fake.
bool waitForExec(pid_t pid) {
    const std::string fake = fs::canonical(CV_FAKE_CDP).string();
    for (int i = 0; i < 500; ++i) {
        if (exeOf(pid) == fake) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string roundTrip(int toBrowser, int fromBrowser, const std::string& command) {
    const std::string framed = command + std::string(1, '\0');
    if (::write(toBrowser, framed.data(), framed.size()) != static_cast<ssize_t>(framed.size())) return {};
    std::string reply;
    char c;
    while (::read(fromBrowser, &c, 1) == 1 && c != '\0') reply += c;
    return reply;
}

struct Launched {
    std::unique_ptr<chromium::BrowserProcess> process;
    int toBrowser = -1, fromBrowser = -1;
    ~Launched() {
        process.reset();
        if (toBrowser >= 0) ::close(toBrowser);
        if (fromBrowser >= 0) ::close(fromBrowser);
    }
};

void launchFake(Launched& l, const std::string& cues = {}) {
    const std::string cueFile = (fs::temp_directory_path() / ("cv-process-test-cues-" + std::to_string(::getpid())));
    std::ofstream(cueFile) << cues;
    ::setenv("CV_FAKE_CDP_CUES", cueFile.c_str(), 1);
    ::unsetenv("CV_FAKE_CDP_LOG");
    std::string error;
    l.process = chromium::BrowserProcess::launch(CV_FAKE_CDP, l.toBrowser, l.fromBrowser, error);
    ASSERT_TRUE(l.process) << error;
    ASSERT_TRUE(waitForExec(l.process->pid()));
}

TEST(BrowserProcess, ChildGetsThePipeOnFds3And4AndNothingElseOfOurs) {
    Launched l;
    launchFake(l);
    const pid_t pid = l.process->pid();

    const std::string reply = roundTrip(l.toBrowser, l.fromBrowser, R"({"id":7,"method":"Target.getTargets"})");
    EXPECT_NE(reply.find("\"id\":7"), std::string::npos) << reply;

    // Only stdin/out/err (all /dev/null) and the two pipe ends: no descriptor of the host leaks.
    std::set<int> fds;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        fds.insert(std::stoi(entry.path().filename().string()));
    EXPECT_EQ(fds, (std::set<int>{0, 1, 2, 3, 4}));
    for (int fd : {0, 1, 2})
        EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)), "/dev/null");

    // A private profile folder, readable by us alone, and a process group of its own.
    struct stat info{};
    ASSERT_EQ(::stat(l.process->profileFolder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(::getpgid(pid), pid);
}

TEST(BrowserProcess, TerminateLetsTheBrowserCloseThenReapsAndCleansUp) {
    Launched l;
    launchFake(l);
    const pid_t pid = l.process->pid();
    const std::string profile = l.process->profileFolder();
    roundTrip(l.toBrowser, l.fromBrowser, R"({"id":1,"method":"Browser.close"})");
    EXPECT_TRUE(l.process->terminate(std::chrono::seconds(5)));
    EXPECT_TRUE(l.process->reaped());
    EXPECT_NE(::kill(pid, 0), 0) << "the child is gone, not a zombie";
    l.process.reset();
    EXPECT_FALSE(fs::exists(profile));
}

TEST(BrowserProcess, ABrowserThatIgnoresCloseIsKilledAfterTheGrace) {
    Launched l;
    launchFake(l, "ignore-close\n");
    const pid_t pid = l.process->pid();
    roundTrip(l.toBrowser, l.fromBrowser, R"({"id":1,"method":"Target.getTargets"})");
    EXPECT_FALSE(l.process->terminate(std::chrono::milliseconds(100)));
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST(BrowserProcess, AnExitedBrowserIsReapedWithoutWaiting) {
    Launched l;
    launchFake(l);
    const pid_t pid = l.process->pid();
    EXPECT_FALSE(l.process->reapIfExited());
    ::close(l.toBrowser);  // the fake ends when its command pipe closes
    l.toBrowser = -1;
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
        reaped = l.process->reapIfExited();
        if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(reaped);
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST(BrowserProcess, ProfilesLeftByDeadSimulatorsAreRemoved) {
    const fs::path root = fs::temp_directory_path() / ("cv-stale-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    // A process id that is certainly free: a child that has exited and been reaped.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const fs::path stale = root / ("cv-chromium-" + std::to_string(gone) + "-abc123");
    const fs::path live = root / ("cv-chromium-" + std::to_string(::getpid()) + "-def456");
    const fs::path unrelated = root / ("cv-chromium-" + std::to_string(gone) + "x-ghi789");
    for (const auto& dir : {stale, live, unrelated}) {
        fs::create_directories(dir / "Default");
        std::ofstream(dir / "Default" / "Preferences") << "{}";
    }
    chromium::removeStaleProfiles(root.string());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live / "Default" / "Preferences"));
    EXPECT_TRUE(fs::exists(unrelated));
    fs::remove_all(root);
}

TEST(FindOnPath, TakesTheFirstExecutableRegularFile) {
    const fs::path root = fs::temp_directory_path() / ("cv-find-" + std::to_string(::getpid()));
    fs::remove_all(root);
    for (const char* dir : {"a", "b", "c", "d"}) fs::create_directories(root / dir);
    std::ofstream(root / "a/chromium") << "#!/bin/sh\n";             // not executable
    fs::create_directories(root / "b/chromium");                      // a folder
    std::ofstream(root / "c/chromium") << "#!/bin/sh\n";
    fs::permissions(root / "c/chromium", fs::perms::owner_all);
    std::ofstream(root / "d/chromium") << "#!/bin/sh\n";
    fs::permissions(root / "d/chromium", fs::perms::owner_all);

    const std::string path = (root / "a").string() + ":" + (root / "b").string() + "::" + (root / "c").string() +
                             ":" + (root / "d").string();
    EXPECT_EQ(chromium::findOnPath("chromium", path), (root / "c/chromium").string());
    EXPECT_EQ(chromium::findOnPath("google-chrome", path), std::nullopt);
    EXPECT_EQ(chromium::findOnPath("chromium", ""), std::nullopt);
    fs::remove_all(root);
}

}  // namespace
