// The browser as a child process: found, started with the DevTools pipe on fds 3 and 4,
// and always reaped. The child is tied to the thread that started it (the simulator's main
// thread) and is killed by the kernel if the simulator dies, however it dies. Starting it
// never copies the simulator's address space: the child borrows it until it runs the browser.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace chromium {

// Browsers tried, in this order, when the settings name none. Google's own builds first: a
// plain program, kept current by Google's repository, that plays the most media. Then the
// distribution's Chromium. Ubuntu's Chromium is a snap: it is taken at /snap/bin/chromium even
// when that folder is not on the simulator's PATH, and before chromium-browser, which on Ubuntu
// is only a script that starts the snap, so that we know it for a snap. A name with a '/' is a
// fixed path; the others are looked up on PATH.
inline constexpr const char* browserCandidates[] = {"google-chrome", "google-chrome-stable", "chromium",
                                                    "/snap/bin/chromium", "chromium-browser"};

bool isExecutableFile(const std::string& path);

// Chromium's sandbox cannot start in a process run as root, and Chromium refuses to run there
// unless told to go without it: a simulator run as root starts its browsers without the
// sandbox. Anywhere else it stays on.
bool runsWithoutSandbox();
// The command line the browser is started with (without the executable); `runningAsRoot` is
// what runsWithoutSandbox() says.
std::vector<std::string> browserArguments(const std::string& profileFolder, bool runningAsRoot);
// The first of browserCandidates there is, "" when none.
std::string findBrowser(const std::string& searchPath);

// The snap an executable starts ("chromium" for /snap/bin/chromium), "" for a program that is
// no snap. A snap's commands are links in /snap/bin to /usr/bin/snap, which runs the snap (and
// app) its own name says; `resolved` is where the executable's links lead.
std::string snapOf(const std::string& executable, const std::string& resolved);
std::string snapOf(const std::string& executable);

// True inside Steam's container (pressure-vessel), which hides the system's /usr and /snap from
// the simulator's processes (docs/packaging.md): by the variable it sets, or its marker file.
bool insideSteamContainer();

// Where the browser keeps the pilot's logins and site storage from one session to the next
// (`lasting`), as WebView2 does in its user data folder, and where it gets a profile of its own
// for one session when that cannot be had (`privateParent`). Empty `lasting` when there is no
// absolute home folder.
struct ProfilePlaces {
    std::string lasting;
    std::string privateParent;
};
// For a browser that is no snap: <xdgDataHome>/corvane-toolbar/chromium, or
// <home>/.local/share/corvane-toolbar/chromium when xdgDataHome is unset, empty or not an
// absolute path; private profiles in the system's temporary folder. A snap can write neither a
// hidden folder of the home directory nor the host's /tmp (it has one of its own), only its
// own data folders: both go to <home>/snap/<snap>/common/corvane-toolbar, the lasting one as
// its chromium folder.
ProfilePlaces profilePlacesFor(const std::string& snap, const char* xdgDataHome, const char* home);
// The same for this process: $XDG_DATA_HOME, else $HOME, else the user's home in passwd.
ProfilePlaces profilePlaces(const std::string& snap);
// Makes `folder` and its missing parents, each level mode 0700 as the base directory
// specification asks. False with `error` set when one cannot be made.
bool createMissingFolders(const std::string& folder, std::string& error);
// Makes `folder` ready to hold a profile: created with its missing parents (mode 0700), and an
// existing one of ours narrowed to 0700, as it holds cookies. False with `error` set when it
// is not a folder this user owns or cannot be made.
bool prepareProfileFolder(const std::string& folder, std::string& error);
// What Chromium exits with when another browser holds the profile folder (its own lock, the
// SingletonLock link in the folder, taken atomically, so whoever comes second learns it).
inline constexpr int profileInUseExitCode = 21;

class BrowserProcess {
public:
    // Starts `executable` on the profile folder `profile`, which the caller has prepared and
    // keeps. On success the caller gets the pipe ends it talks through: commands go to
    // `toBrowser`, replies come from `fromBrowser` (both close-on-exec, owned by the caller).
    // Null with `error` set on failure.
    static std::unique_ptr<BrowserProcess> launch(const std::string& executable, const std::string& profile,
                                                  int& toBrowser, int& fromBrowser, std::string& error);

    // Kills and reaps the child if still needed.
    ~BrowserProcess();
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& profileFolder() const { return profileFolder_; }
    bool reaped() const { return reaped_; }
    // True once reaped after exiting by itself with this status.
    bool exitedWith(int code) const;

    // Reaps the child if it has exited; never waits. True once it is reaped.
    bool reapIfExited();
    // Sends SIGKILL to the browser and its helpers; they are reaped later by reapIfExited()
    // or terminate().
    void kill();
    // Lets the browser exit on its own for up to `grace`, then kills it and its helpers and
    // reaps it. Returns true when it exited within the grace period.
    bool terminate(std::chrono::milliseconds grace);

private:
    BrowserProcess(pid_t pid, std::string profileFolder) : pid_(pid), profileFolder_(std::move(profileFolder)) {}
    bool exitedUnreaped();
    void killGroup();
    void reapBlocking();

    pid_t pid_;
    std::string profileFolder_;
    bool reaped_ = false;
    int waitStatus_ = -1;  // as waitpid reported it; -1 until reaped here
};

}  // namespace chromium
