#include "browser/chromium/chromium_process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace chromium {

bool isExecutableFile(const std::string& path) {
    struct stat info{};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> findOnPath(const std::string& name, const std::string& searchPath) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = searchPath.find(':', start);
        const std::string folder = searchPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
        if (isExecutableFile(candidate)) return candidate;
        if (end == std::string::npos) return std::nullopt;
        start = end + 1;
    }
}

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
    };
    // The sandbox cannot start as root; everywhere else it stays on.
    if (runningAsRoot) args.push_back("--no-sandbox");
    // A plain first page, so the first navigation does not start from the new-tab page.
    args.push_back("about:blank");
    return args;
}

namespace {

// How long the browser's helpers get to die after the kill that ends a stop.
constexpr std::chrono::milliseconds helpersGrace{250};

void closeQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void becomeBrowser(const char* executable, char* const* argv, int commandsIn, int repliesOut,
                                pid_t parent) {
    // A process group of its own, so teardown reaches the browser's helper processes too.
    ::setpgid(0, 0);
    // Killed when the thread that forked us ends: the simulator's main thread, i.e. when the
    // simulator exits or is killed. The parent may already be gone before this took effect.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);

    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaultAction{};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &defaultAction, nullptr);

    // The browser's chatter stays out of the simulator's console.
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull < 0) ::_exit(127);
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    // Both pipe ends sit at 10 or above, so these never overwrite each other.
    if (::dup2(commandsIn, 3) != 3 || ::dup2(repliesOut, 4) != 4) ::_exit(127);
    if (::close_range(5, ~0U, 0) != 0) {
        for (int fd = 5; fd < 65536; ++fd) ::close(fd);
    }
    ::execv(executable, argv);
    ::_exit(127);
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
        struct passwd entry{};
        struct passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            passwdHome = found->pw_dir;
        home = passwdHome.c_str();
    }
    return profilePlacesFor(snap, std::getenv("XDG_DATA_HOME"), home);
}

namespace {

// Each missing level is made 0700, as the base directory specification asks.
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

}  // namespace

bool prepareProfileFolder(const std::string& folder, std::string& error) {
    if (!createMissingFolders(folder, error)) return false;
    struct stat info{};
    if (::stat(folder.c_str(), &info) != 0) {
        error = std::string("cannot use it: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "it is not a folder";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = "it belongs to another user";
        return false;
    }
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        error = std::string("cannot make it private: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void removeStaleProfiles(const std::string& folder) {
    // Profiles are named after the simulator process that made them. One whose process is
    // gone was left by a simulator that crashed or was killed before it could clean up.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string prefix = "cv-chromium-";
        if (name.rfind(prefix, 0) != 0) continue;
        const std::size_t dash = name.find('-', prefix.size());
        if (dash == std::string::npos) continue;
        const std::string pidText = name.substr(prefix.size(), dash - prefix.size());
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat info{};
        if (::lstat(entry.path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) continue;
        const pid_t owner = static_cast<pid_t>(std::stol(pidText));
        if (owner <= 0 || !(::kill(owner, 0) != 0 && errno == ESRCH)) continue;
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

std::unique_ptr<PrivateProfile> PrivateProfile::create(std::string& error, const std::string& parent) {
    if (!createMissingFolders(parent, error)) return nullptr;
    removeStaleProfiles(parent);
    std::string folder = parent + "/cv-chromium-" + std::to_string(::getpid()) + "-XXXXXX";
    // mkdtemp creates the folder with mode 0700: the profile is ours alone.
    if (::mkdtemp(folder.data()) == nullptr) {
        error = std::string("cannot create a profile folder: ") + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<PrivateProfile>(new PrivateProfile(std::move(folder)));
}

PrivateProfile::~PrivateProfile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<BrowserProcess> BrowserProcess::launch(const std::string& executable, const std::string& profile,
                                                       int& toBrowser, int& fromBrowser, std::string& error) {
    int commands[2] = {-1, -1};  // we write [1], the browser reads [0]
    int replies[2] = {-1, -1};   // the browser writes [1], we read [0]
    int commandsIn = -1, repliesOut = -1;
    auto closeAll = [&] {
        for (int fd : {commands[0], commands[1], replies[0], replies[1], commandsIn, repliesOut}) closeQuietly(fd);
    };
    if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) {
        error = std::string("cannot create the pipes: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }
    commandsIn = ::fcntl(commands[0], F_DUPFD_CLOEXEC, 10);
    repliesOut = ::fcntl(replies[1], F_DUPFD_CLOEXEC, 10);
    if (commandsIn < 0 || repliesOut < 0) {
        error = std::string("cannot arrange the pipes: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }

    // Everything the child needs is prepared before fork: after it, the child may only make
    // async-signal-safe calls (the simulator has other threads).
    std::vector<std::string> args = browserArguments(profile, ::geteuid() == 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        closeAll();
        return nullptr;
    }
    if (pid == 0) becomeBrowser(executable.c_str(), argv.data(), commandsIn, repliesOut, parent);

    // Also from this side, so a kill of the group cannot miss a child that has not run yet.
    ::setpgid(pid, pid);
    closeQuietly(commands[0]);
    closeQuietly(replies[1]);
    closeQuietly(commandsIn);
    closeQuietly(repliesOut);
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
