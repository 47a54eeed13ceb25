// What only the soaks need beside the module tests' sandbox: a loaded module or the program's
// end, and a look at what the process holds (descriptors, threads, children) from /proc.
#pragma once

#include <initializer_list>
#include <ios>
#include <string>
#include <utility>

#include "plugin_sandbox.h"
#include "processes.h"

namespace soak {

// Loads the module; exits the program with a message when it cannot be loaded.
void load(xpsim::Host& host, const PluginSandbox& sandbox);

// Runs script text on the host; exits the program with the message of a script error.
void run(xpsim::Host& host, const std::string& script);

// The panel shows the top-left corner mark of the page (red, as the demo page and the fake
// peer's snapshots have it): a snapshot has been decoded and drawn.
bool panelShowsPage(const xpsim::Host& host);

// The number after `name` on the command line, or `fallback`.
long option(int argc, char** argv, const char* name, long fallback);

// What this process holds: open file descriptors, threads and direct child processes.
struct Held {
    int descriptors = 0, threads = 0;
    std::size_t children = 0;
    bool operator==(const Held&) const = default;
    std::string describe() const;
};
Held held();

// Waits up to 10 s for every child and every process whose environment holds CV_TEST_TAG=tag
// to be gone, then names each one left on stderr. False when one was.
bool nothingOutlives(const std::string& soakName, const std::string& tag);

// The fake DevTools peer's command log, read on from where the last look stopped: the browsers
// started so far ("argv" lines), the snapshots asked for in all and of the last browser, and
// the screencast frames sent.
class FakePeerLog {
public:
    explicit FakePeerLog(std::string path) : path_(std::move(path)) {}
    void readOn();
    int browsers = 0;
    long snapshots = 0, lastBrowsersSnapshots = 0, frames = 0;

private:
    std::string path_;
    std::streamoff offset_ = 0;
};

// Names on stderr each of `bad` the log holds, with the log. False when it holds one.
bool logClean(const std::string& soakName, const std::string& log, std::initializer_list<const char*> bad);

}  // namespace soak
