// stop_probe: how long the simulator stalls when the plugin stops with its browser up. Loads
// the module into the stand-in simulator in this process, shows the panel until the browser
// is up and snapshots flow, then times the unload (XPluginDisable, which does nothing,
// XPluginStop, the host's leak check and the unmapping; all but XPluginStop take well under
// a millisecond). Several runs, one module load each; prints one JSON object. Not a test: the
// numbers depend on the machine and its load (scripts/bench).
//
//   stop_probe MODULE.xpl [RUNS] [LOG_FILE]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "host.h"

namespace {

// Child processes of this one: the browser, while the plugin has it up.
int childCount() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "children");
        for (long pid = 0; in >> pid;) ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: stop_probe MODULE.xpl [RUNS] [LOG_FILE]\n");
        return 64;
    }
    const std::string module = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        xpsim::Options options;
        options.screenLeft = 0;
        options.screenTop = 700;
        options.screenRight = 1000;
        options.screenBottom = 0;
        if (argc > 3) options.logFile = argv[3] + std::string(".") + std::to_string(run + 1);
        xpsim::Host host(options);
        std::string error;
        if (!host.load(module, error) || !host.run("wait 1; command Corvane/TogglePanel; wait 5", error)) {
            std::fprintf(stderr, "stop_probe: %s\n", error.c_str());
            return 1;
        }
        if (childCount() == 0) {
            std::fprintf(stderr, "stop_probe: the browser is not running before the stop\n");
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        if (!host.run("quit", error)) {
            std::fprintf(stderr, "stop_probe: %s\n", error.c_str());
            return 1;
        }
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (childCount() != 0) {
            std::fprintf(stderr, "stop_probe: a child process outlived the stop\n");
            return 1;
        }
    }
    std::printf("{\"stop_s\": [");
    for (std::size_t i = 0; i < seconds.size(); ++i) std::printf("%s%.4f", i ? ", " : "", seconds[i]);
    std::printf("]}\n");
    return 0;
}
