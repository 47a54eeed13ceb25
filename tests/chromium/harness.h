// Running the built module in the stand-in simulator, as a child process, and looking at
// what it left: the simulator log, screenshots, the fake peer's command log, and the
// process table.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sys/types.h>
#include <sys/wait.h>

#include "processes.h"

namespace harness {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;  // added to, or replacing in, ours

// The built module and xpsim the tests run (AsTestUser moves them).
extern fs::path modulePath;
extern fs::path xpsimPath;

// The unprivileged user a run as root becomes; scripts/setup creates it.
inline constexpr const char* testUser = "cvtest";

// Run as root, a test program becomes testUser before its first test, and so do the simulator
// and the browser it starts: Chromium's sandbox cannot start as root, and the browser must be
// tested as pilots run it. Everything the tests then write and read back is that user's. The
// checkout may lie where other users cannot reach (/root is closed to them), so the module,
// xpsim and `folders` (the pages) are first copied into a folder of the user's, and the paths
// are pointed there. Anything that stops the switch fails every test: nothing runs as root
// unseen. Run by anyone else, nothing changes.
class AsTestUser : public ::testing::Environment {
public:
    explicit AsTestUser(std::vector<fs::path*> folders) : inputs_(std::move(folders)) {
        inputs_.insert(inputs_.end(), {&modulePath, &xpsimPath});
    }
    void SetUp() override;
    void TearDown() override;

private:
    std::vector<fs::path*> inputs_;  // the folders, the module and xpsim
    fs::path copies_;
};

// Polls `done` until it holds or the time is up (so a fault fails instead of hanging).
bool eventually(const std::function<bool()>& done, int timeoutSecs);

// xpsim with a script, started as a child process; killed with the object if still running.
class Xpsim {
public:
    // `options` go on xpsim's command line before the module (`--ui-scale 2`, say).
    Xpsim(const fs::path& folder, const std::string& script, const Environment& env,
          const std::vector<std::string>& options = {});
    ~Xpsim();
    pid_t pid() const { return pid_; }
    // The exit status as waitpid reports it, or -1 when it had to be killed.
    int wait(int timeoutSecs = 120);
    void kill(int signal);
    std::string log() const;

private:
    pid_t pid_ = -1;
    fs::path folder_;
};

struct Pixel {
    int r, g, b;
};
struct Image {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    // The panel opens with its top-left at desktop (100, 980), one boxel per page pixel; in
    // a 1920 x 1080 screenshot page pixel (x, y) is at (100 + x, 100 + y). Outside: (-1, -1, -1).
    Pixel page(int x, int y) const;
    // The pixel at column x, row y of the screenshot; outside: (-1, -1, -1).
    Pixel at(int x, int y) const;
};
Image readPng(const fs::path& path);
bool near(Pixel p, int r, int g, int b, int tolerance = 24);

using testprocs::childrenOf;
using testprocs::slurp;
using testprocs::taggedProcesses;
using testprocs::countOccurrences;
// Each of `lines` is in the log exactly once; none of `pieces` is in it at all.
void expectOnce(const std::string& log, std::initializer_list<std::string> lines);
void expectNone(const std::string& log, std::initializer_list<const char*> pieces);
// Ends a script still running as Ctrl-C would (SIGTERM), and checks that the host then
// unloaded the module cleanly: no leak, no error line but the interruption's. Returns the log.
std::string interrupt(Xpsim& sim);

// A fresh plugin folder holding a copy of the module, removed afterwards; no process the
// test started may outlive it. The simulator's XDG_DATA_HOME is <folder>/data, so the
// browser's lasting profile is <folder>/data/corvane-toolbar/chromium.
class ModuleTest : public ::testing::Test {
protected:
    ModuleTest();
    ~ModuleTest() override;
    // Writes cv_settings.ini; an empty browserPath leaves the key out.
    void settings(const std::string& zoom, int refreshSecs, const std::string& url,
                  const std::string& browserPath) const;
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    fs::path profile() const { return folder_ / "data/corvane-toolbar/chromium"; }
    // Runs a script to its end (at most `timeoutSecs`), in the test's folder or another one;
    // xpsim must exit 0 having unloaded the module without leaks or an error line of the host.
    std::string run(const std::string& script, const fs::path& folder = {}, int timeoutSecs = 120);

    fs::path folder_;
    std::string tag_;
    Environment env_;
    std::vector<std::string> xpsimOptions_;  // for run()
};

}  // namespace harness
