// The built module in a plugin folder of its own, loaded into a stand-in simulator in this
// process: shared by the module tests and the soaks.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host.h"

// A fresh temporary folder holding <folder>/Corvane_Toolbar/lin_x64 with a copy of the module,
// removed with the object. XDG_DATA_HOME points into it meanwhile, so a browser's lasting
// profile never goes into the real ~/.local/share. Throws when the folder cannot be made.
class PluginSandbox {
public:
    explicit PluginSandbox(const std::string& name);
    ~PluginSandbox();
    PluginSandbox(const PluginSandbox&) = delete;
    PluginSandbox& operator=(const PluginSandbox&) = delete;

    std::string file(const std::string& name) const { return folder + "/" + name; }
    std::string module() const { return pluginFolder + "/Corvane_Toolbar.xpl"; }
    // cv_settings.ini beside the module: [General] with these lines.
    void settings(const std::string& lines) const;
    // An unpaced stand-in simulator logging into <folder>/Log.txt, that has run its first frames
    // (so its own descriptors and threads, the renderer's among them, exist before the module).
    std::unique_ptr<xpsim::Host> startHost(xpsim::Options options = {}) const;

    const std::string folder;
    const std::string pluginFolder;

private:
    std::optional<std::string> savedDataHome_;
};

// Runs frames, with a pause of `pause` after each so the plugin's threads and the browser get
// wall-clock time, until `done` holds or `limit` has passed. False when time ran out.
bool framesUntil(xpsim::Host& host, const std::function<bool()>& done, std::chrono::milliseconds pause,
                 std::chrono::milliseconds limit);

// The number of entries of a /proc folder: "/proc/self/task" counts this process's threads.
int entriesIn(const char* folder);
