#include "soak_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace soak {

namespace {

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(1);
}

}  // namespace

void load(xpsim::Host& host, const PluginSandbox& sandbox) {
    std::string error;
    if (!host.load(sandbox.module(), error)) fail("cannot load the module: " + error);
}

void run(xpsim::Host& host, const std::string& script) {
    std::string error;
    if (!host.run(script, error)) fail(script + ": " + error);
}

bool panelShowsPage(const xpsim::Host& host) {
    std::vector<std::uint8_t> rgba;
    int width = 0, height = 0;
    if (!host.readDesktop(rgba, width, height) || width < 110 || height < 110) return false;
    // The panel's top-left is at desktop (100, 980): page pixel (4, 4) is column 104, row 104.
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(104) * width + 104) * 4];
    return p[0] > 200 && p[1] < 60 && p[2] < 60;
}

long option(int argc, char** argv, const char* name, long fallback) {
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], name) == 0) return std::atol(argv[i + 1]);
    return fallback;
}

std::string Held::describe() const {
    return std::to_string(descriptors) + " descriptors, " + std::to_string(threads) + " threads, " +
           std::to_string(children) + " child processes";
}

Held held() {
    return {entriesIn("/proc/self/fd"), entriesIn("/proc/self/task"), testprocs::childrenOf(::getpid()).size()};
}

bool nothingOutlives(const std::string& soakName, const std::string& tag) {
    // The browser's own helpers may take a moment to follow it.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((!testprocs::childrenOf(::getpid()).empty() || !testprocs::taggedProcesses(tag).empty()) &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bool none = true;
    for (const auto& [pid, state] : testprocs::childrenOf(::getpid())) {
        std::fprintf(stderr, "%s: child process %d left\n", soakName.c_str(), static_cast<int>(pid));
        none = false;
    }
    for (pid_t pid : testprocs::taggedProcesses(tag)) {
        std::fprintf(stderr, "%s: browser process %d left\n", soakName.c_str(), static_cast<int>(pid));
        none = false;
    }
    return none;
}

void FakePeerLog::readOn() {
    std::ifstream in(path_);
    in.seekg(offset_);
    for (std::string line; std::getline(in, line) && !in.eof();) {  // half a line is read whole next time
        offset_ += static_cast<std::streamoff>(line.size() + 1);
        if (line.rfind("argv ", 0) == 0) {
            ++browsers;
            lastBrowsersSnapshots = 0;
        } else if (line.rfind("Page.captureScreenshot ", 0) == 0) {
            ++snapshots;
            ++lastBrowsersSnapshots;
        } else if (line.rfind("screencast-frame ", 0) == 0) {
            ++frames;
        }
    }
}

bool logClean(const std::string& soakName, const std::string& log, std::initializer_list<const char*> bad) {
    bool clean = true;
    for (const char* line : bad) {
        if (log.find(line) == std::string::npos) continue;
        std::fprintf(stderr, "%s: the log has \"%s\":\n%s", soakName.c_str(), line, log.c_str());
        clean = false;
    }
    return clean;
}

}  // namespace soak
