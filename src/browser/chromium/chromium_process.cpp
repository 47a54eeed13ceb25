#include "browser/chromium/chromium_process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "browser/chromium/child_start.h"

extern char** environ;

namespace chromium {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool runsWithoutSandbox() { return ::geteuid() == 0; }

std::vector<std::string> browserArguments(const std::string& profileFolder, bool runningAsRoot) {
    std::vector<std::string> args = {
        "--headless",
        "--remote-debugging-pipe",
        "--user-data-dir=" + profileFolder,
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--disable-gpu",
        "--hide-scrollbars",
        "--mute-audio",
        // A headless browser has no address bar, yet Chromium keeps the web page of its
        // suggestion list loaded, in a renderer of its own that takes processor time all along.
        "--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup",
    };
    // The sandbox cannot start as root; everywhere else it stays on.
    if (runningAsRoot) args.push_back("--no-sandbox");
    // A plain first page, so the first navigation does not start from the new-tab page.
    args.push_back("about:blank");
    return args;
}

namespace {

// The first executable regular file called `name` in the colon-separated `searchPath`. Only
// absolute folders count: an empty or relative entry would name a folder under wherever the
// simulator was started from (the shell takes an empty one for the current folder), and a
// browser found there would run with the pilot's logins.
std::optional<std::string> findOnPath(const std::string& name, const std::string& searchPath) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = searchPath.find(':', start);
        const std::string folder = searchPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = folder + "/" + name;
        if (!folder.empty() && folder.front() == '/' && isExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return std::nullopt;
        start = end + 1;
    }
}

// The value of `name` in the environment `variables`, or null.
const char* valueIn(char* const* variables, std::string_view name) {
    for (char* const* variable = variables; variable != nullptr && *variable != nullptr; ++variable) {
        const std::string_view entry = *variable;
        if (entry.size() > name.size() && entry[name.size()] == '=' && entry.substr(0, name.size()) == name)
            return *variable + name.size() + 1;
    }
    return nullptr;
}

// The simulator's environment, for the browser, without what Steam puts there for the
// simulator alone: its overlay (LD_PRELOAD) and its runtime's old, pinned libraries
// (LD_LIBRARY_PATH), which a browser built for the system's own would load instead. Steam's
// runtime keeps what it replaced (SYSTEM_LD_LIBRARY_PATH, SYSTEM_PATH) and names itself in
// STEAM_RUNTIME, an absolute folder while it is in use: the browser then gets the saved values
// back and no STEAM_RUNTIME, as Steam's own scripts undo the runtime.
std::vector<std::string> browserEnvironment(char* const* variables) {
    const char* runtime = valueIn(variables, "STEAM_RUNTIME");
    const bool inSteamRuntime = runtime != nullptr && runtime[0] == '/';
    const char* systemLibraries = inSteamRuntime ? valueIn(variables, "SYSTEM_LD_LIBRARY_PATH") : nullptr;
    const char* systemPath = inSteamRuntime ? valueIn(variables, "SYSTEM_PATH") : nullptr;
    std::vector<std::string> kept;
    for (char* const* variable = variables; variable != nullptr && *variable != nullptr; ++variable) {
        const std::string_view entry = *variable;
        const std::string_view name = entry.substr(0, entry.find('='));
        const bool dropped = name == "LD_PRELOAD" || name == "LD_LIBRARY_PATH" ||
                             (inSteamRuntime && name == "STEAM_RUNTIME") ||
                             (systemPath != nullptr && *systemPath != '\0' && name == "PATH");
        if (!dropped) kept.emplace_back(entry);
    }
    if (systemLibraries != nullptr && *systemLibraries != '\0')
        kept.push_back(std::string("LD_LIBRARY_PATH=") + systemLibraries);
    if (systemPath != nullptr && *systemPath != '\0') kept.push_back(std::string("PATH=") + systemPath);
    return kept;
}

// How long the browser's helpers get to die after the kill that ends a stop.
constexpr std::chrono::milliseconds helpersGrace{250};

void closeQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

// True while a process of the group is alive. A dead helper stays in the process table as a
// zombie until whoever inherited it reaps it: init at once on a desktop, but a container's
// first process may take a second or two, and there is nothing left to wait for.
bool groupHasLiveMember(pid_t group) {
    if (::kill(-group, 0) != 0) return false;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return true;
    bool alive = false;
    while (!alive) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr) break;
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char stat[512];
        const ssize_t n = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (n <= 0) continue;
        stat[n] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything, so read after its last ')'.
        const char* close = std::strrchr(stat, ')');
        char state = 0;
        int ppid = 0, pgrp = 0;
        if (close != nullptr && std::sscanf(close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3)
            alive = pgrp == group && state != 'Z' && state != 'X';
    }
    ::closedir(proc);
    return alive;
}

// The highest descriptor this process may have open: where the child stops closing what it
// inherited when the kernel cannot close a range.
int highestFd() {
    struct rlimit files {};
    return ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
               ? static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536)) - 1
               : 65535;
}

}  // namespace

std::string findBrowser(const std::string& searchPath) {
    for (const std::string name : browserCandidates) {
        if (name.find('/') != std::string::npos) {
            if (isExecutableFile(name)) return name;
        } else if (auto found = findOnPath(name, searchPath)) {
            return *found;
        }
    }
    return {};
}

std::string snapOf(const std::string& executable, const std::string& resolved) {
    const std::size_t slash = executable.rfind('/');
    const std::string name = executable.substr(slash == std::string::npos ? 0 : slash + 1);
    const bool snapCommand = executable.rfind("/snap/bin/", 0) == 0 || resolved == "/usr/bin/snap";
    // "chromium" runs the snap's app of the same name; "snap.app" an app of the snap.
    return snapCommand ? name.substr(0, name.find('.')) : std::string();
}

std::string snapOf(const std::string& executable) {
    char resolved[PATH_MAX];
    return snapOf(executable, ::realpath(executable.c_str(), resolved) != nullptr ? resolved : executable);
}

bool insideSteamContainer() {
    const char* container = std::getenv("container");
    if (container != nullptr && std::strcmp(container, "pressure-vessel") == 0) return true;
    const int marker = ::open("/run/host/container-manager", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (marker < 0) return false;
    char manager[32];
    const ssize_t n = ::read(marker, manager, sizeof manager);
    ::close(marker);
    return n > 0 && std::string_view(manager, static_cast<std::size_t>(n)).starts_with("pressure-vessel");
}

ProfilePlaces profilePlacesFor(const std::string& snap, const char* xdgDataHome, const char* home) {
    const bool homeKnown = home != nullptr && home[0] == '/';
    if (!snap.empty()) {
        if (!homeKnown) return {};
        const std::string ours = std::string(home) + "/snap/" + snap + "/common/corvane-toolbar";
        return {ours + "/chromium", ours};
    }
    const std::string tail = "/corvane-toolbar/chromium";
    // The base directory specification ignores a relative value.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') return {xdgDataHome + tail, P_tmpdir};
    if (homeKnown) return {std::string(home) + "/.local/share" + tail, P_tmpdir};
    return {std::string(), P_tmpdir};
}

ProfilePlaces profilePlaces(const std::string& snap) {
    const char* home = std::getenv("HOME");
    std::string passwdHome;
    if (home == nullptr || home[0] == '\0') {
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            passwdHome = found->pw_dir;
        home = passwdHome.c_str();
    }
    return profilePlacesFor(snap, std::getenv("XDG_DATA_HOME"), home);
}

bool createMissingFolders(const std::string& folder, std::string& error) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string level = folder.substr(0, slash);
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + level + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

bool prepareProfileFolder(const std::string& folder, std::string& error) {
    if (!createMissingFolders(folder, error)) return false;
    auto refuse = [&](std::string why) {
        error = std::move(why);
        return false;
    };
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return refuse(std::string("cannot use it: ") + std::strerror(errno));
    if (!S_ISDIR(info.st_mode)) return refuse("it is not a folder");
    if (info.st_uid != ::geteuid()) return refuse("it belongs to another user");
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return refuse(std::string("cannot make it private: ") + std::strerror(errno));
    return true;
}

std::unique_ptr<BrowserProcess> BrowserProcess::launch(const std::string& executable, const std::string& profile,
                                                       int& toBrowser, int& fromBrowser, std::string& error) {
    int commands[2] = {-1, -1};  // we write [1], the browser reads [0]
    int replies[2] = {-1, -1};   // the browser writes [1], we read [0]
    int commandsIn = -1, repliesOut = -1, devNull = -1;
    auto closeAll = [&] {
        for (int fd : {commands[0], commands[1], replies[0], replies[1], commandsIn, repliesOut, devNull})
            closeQuietly(fd);
    };
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) {
        error = std::string("cannot create the pipes: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }
    // At 10 or above, clear of the descriptors 0 to 4 the child gets.
    commandsIn = ::fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
    repliesOut = ::fcntl(replies[1], F_DUPFD_CLOEXEC, 10);
    const int opened = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (opened >= 0) {
        devNull = ::fcntl(opened, F_DUPFD_CLOEXEC, 10);
        ::close(opened);
    }
    if (commandsIn < 0 || repliesOut < 0 || devNull < 0) {
        error = std::string("cannot arrange the pipes: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }

    // Everything the child needs is prepared here: it shares our memory until it runs the
    // browser, and may only read it (the simulator's environment is taken as it is now).
    std::vector<std::string> args = browserArguments(profile, runsWithoutSandbox());
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = browserEnvironment(environ);
    std::vector<char*> envp;
    for (auto& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    const ChildPlan plan{executable.c_str(), argv.data(), envp.data(), devNull, commandsIn, repliesOut, highestFd()};
    int startError = 0;
    const pid_t pid = startChild(plan, startError);
    for (int fd : {commands[0], replies[1], commandsIn, repliesOut, devNull}) closeQuietly(fd);
    if (pid < 0) {
        error = std::string("cannot start it: ") + std::strerror(startError);
        closeQuietly(commands[1]);
        closeQuietly(replies[0]);
        return nullptr;
    }
    toBrowser = commands[1];
    fromBrowser = replies[0];
    return std::unique_ptr<BrowserProcess>(new BrowserProcess(pid, profile));
}

BrowserProcess::~BrowserProcess() {
    if (!reaped_) {
        killGroup();
        reapBlocking();
    }
}

bool BrowserProcess::exitedWith(int code) const {
    return waitStatus_ != -1 && WIFEXITED(waitStatus_) && WEXITSTATUS(waitStatus_) == code;
}

bool BrowserProcess::exitedUnreaped() {
    siginfo_t info{};
    // WNOWAIT leaves the child a zombie, which keeps its process group id reserved until the
    // group has been killed: no unrelated process can have taken that id meanwhile.
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        // ECHILD: someone else reaped it (or SIGCHLD is ignored in this process).
        if (errno == ECHILD) reaped_ = true;
        return errno == ECHILD;
    }
    return info.si_pid == pid_;
}

void BrowserProcess::killGroup() {
    if (reaped_) return;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
}

void BrowserProcess::reapBlocking() {
    if (reaped_) return;
    int status = 0;
    pid_t result;
    while ((result = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    if (result == pid_) waitStatus_ = status;
    reaped_ = true;
}

bool BrowserProcess::reapIfExited() {
    if (reaped_) return true;
    if (!exitedUnreaped()) return false;
    // Helpers left behind by a browser that died are cleared with it.
    killGroup();
    reapBlocking();
    return true;
}

void BrowserProcess::kill() { killGroup(); }

bool BrowserProcess::terminate(std::chrono::milliseconds grace) {
    if (reaped_) return true;
    // Polled finely: the simulator's main thread waits here, so every millisecond after the
    // browser has exited is a stall for nothing.
    const auto deadline = std::chrono::steady_clock::now() + grace;
    bool exited = exitedUnreaped();
    while (!exited && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        exited = exitedUnreaped();
    }
    killGroup();
    reapBlocking();
    // The helpers are not our children and die on their own time after SIGKILL; a short,
    // bounded wait lets shutdown end with them dead too.
    const auto helpersDeadline = std::chrono::steady_clock::now() + helpersGrace;
    while (groupHasLiveMember(pid_) && std::chrono::steady_clock::now() < helpersDeadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return exited;
}

}  // namespace chromium
