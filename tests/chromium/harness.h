// Running the built module in the stand-in simulator, as a child process, and looking at
// what it left: the simulator log, screenshots, the fake peer's command log, and the
// process table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace harness {

namespace fs = std::filesystem;

// A fresh plugin folder holding a copy of the module; removed with the object.
class PluginFolder {
public:
    explicit PluginFolder(const std::string& name);
    ~PluginFolder();
    const fs::path& path() const { return path_; }
    fs::path module() const { return path_ / "Corvane_Toolbar.xpl"; }
    fs::path file(const std::string& name) const { return path_ / name; }
    // Writes cv_settings.ini; an empty browserPath leaves the key out.
    void writeSettings(const std::string& zoom, int refreshSecs, const std::string& url,
                       const std::string& browserPath) const;
    std::string readFile(const std::string& name) const;

private:
    fs::path path_;
};

struct Environment {
    std::map<std::string, std::string> set;  // added to (or replacing in) the test's environment
};

// xpsim with a script, started as a child process.
class Xpsim {
public:
    Xpsim(const PluginFolder& folder, const std::string& script, const Environment& env);
    ~Xpsim();  // kills it if still running
    pid_t pid() const { return pid_; }
    // Waits for the exit (bounded: a hang fails the test instead of blocking the suite).
    // Returns the exit status as waitpid reports it, or -1 when it had to be killed.
    int wait(int timeoutSecs = 120);
    void kill(int signal);
    std::string log() const;

private:
    pid_t pid_ = -1;
    fs::path logPath_;
};

// Runs a script to its end and returns the simulator log. The exit status must be 0.
std::string runToEnd(const PluginFolder& folder, const std::string& script, const Environment& env,
                     int* status = nullptr);

struct Pixel {
    int r, g, b;
};
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    Pixel at(int x, int y) const;
    bool empty() const { return rgba.empty(); }
};
Image readPng(const fs::path& path);
bool near(Pixel p, int r, int g, int b, int tolerance = 24);

// Processes (other than this one) whose environment holds CV_TEST_TAG=tag: everything the
// simulator started, helpers of the browser included.
std::vector<pid_t> taggedProcesses(const std::string& tag);
// Polls, bounded, until no tagged process is left; returns those that remained.
std::vector<pid_t> waitUntilNoneTagged(const std::string& tag, int timeoutSecs);
std::string uniqueTag(const std::string& testName);
// Direct children of a process with their state letter ('Z' for a zombie).
std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent);

int countOccurrences(const std::string& text, const std::string& needle);
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix);

}  // namespace harness
