// The browser as a child process: found, started with the DevTools pipe on fds 3 and 4,
// and always reaped. The child is tied to the thread that started it (the simulator's main
// thread) and is killed by the kernel if the simulator dies, however it dies.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace chromium {

// Names tried on PATH, in order, when the settings name no browser.
inline constexpr const char* browserNames[] = {"chromium", "chromium-browser", "google-chrome-stable",
                                                "google-chrome"};

// The first executable regular file called `name` in the colon-separated `searchPath`
// (an empty entry means the current folder, as for the shell).
std::optional<std::string> findOnPath(const std::string& name, const std::string& searchPath);
bool isExecutableFile(const std::string& path);

// Removes the profile folders in `folder` that simulators no longer running left behind.
void removeStaleProfiles(const std::string& folder);

// The command line the browser is started with (without the executable).
std::vector<std::string> browserArguments(const std::string& profileFolder, bool runningAsRoot);

class BrowserProcess {
public:
    // Starts `executable` with a fresh private profile folder. On success the caller gets
    // the pipe ends it talks through: commands go to `toBrowser`, replies come from
    // `fromBrowser` (both close-on-exec, owned by the caller). Null with `error` set on failure.
    static std::unique_ptr<BrowserProcess> launch(const std::string& executable, int& toBrowser, int& fromBrowser,
                                                  std::string& error);

    // Kills and reaps the child if still needed and removes the profile folder.
    ~BrowserProcess();
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& profileFolder() const { return profileFolder_; }
    bool reaped() const { return reaped_; }

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
};

}  // namespace chromium
