// What the soaks need: a plugin folder of their own, the stand-in simulator in this process,
// and a look at what the process holds (descriptors, threads, children) from /proc.
#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "host.h"
#include "processes.h"

namespace soak {

// A fresh folder holding a copy of the module and its settings, removed with the object.
// The browser's lasting profile goes into it too (XDG_DATA_HOME), never into the real home.
class PluginFolder {
public:
    explicit PluginFolder(const std::string& name);
    ~PluginFolder();
    PluginFolder(const PluginFolder&) = delete;
    PluginFolder& operator=(const PluginFolder&) = delete;

    // cv_settings.ini: [General] with these lines.
    void settings(const std::string& lines) const;
    std::string module() const { return path_ + "/Corvane_Toolbar.xpl"; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An unpaced stand-in simulator logging into `logFile`, that has run its first frames (so its
// own descriptors and threads exist before any module comes).
std::unique_ptr<xpsim::Host> startHost(const std::string& logFile, int fps);
// Loads the module; exits the program with a message when it cannot be loaded.
void load(xpsim::Host& host, const std::string& modulePath);

// Runs script text on the host; exits the program with the message of a script error.
void run(xpsim::Host& host, const std::string& script);

// Runs frames, with a pause of `pause` after each so the plugin's threads and the browser get
// wall-clock time, until `done` holds or `limit` has passed. False when time ran out.
bool framesUntil(xpsim::Host& host, const std::function<bool()>& done, std::chrono::milliseconds pause,
                 std::chrono::seconds limit);

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

// Names on stderr each of `bad` the log holds, with the log. False when it holds one.
bool logClean(const std::string& soakName, const std::string& log, std::initializer_list<const char*> bad);

}  // namespace soak
