// Reload soak: the plugin reloaded again and again with real headless Chromium, the panel
// shown each time until the page is on it. Afterwards nothing of the plugin may be left in
// this process, the stand-in simulator's: no child process, no thread, no open descriptor
// (counted in /proc/self/fd before the first load and after the last unload). In the ASan
// build, LeakSanitizer checks the process when it exits.
//   cv_reload_soak [--reloads N]      100 by default
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "soak_support.h"

namespace {

using namespace std::chrono_literals;

std::string findChromium() {
    const char* path = std::getenv("PATH");
    for (const char* name : {"chromium", "chromium-browser"}) {
        std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
        for (std::string folder; std::getline(folders, folder, ':');)
            if (::access((folder + "/" + name).c_str(), X_OK) == 0) return folder + "/" + name;
    }
    return {};
}

std::string listDescriptors() {
    std::string list;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        list += "  " + entry.path().filename().string() + " -> " +
                std::filesystem::read_symlink(entry.path(), ec).string() + "\n";
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    const int reloads = static_cast<int>(soak::option(argc, argv, "--reloads", 100));

    const std::string browser = findChromium();
    if (browser.empty()) {
        std::fprintf(stderr, "reload soak: no chromium on PATH\n");
        return 1;
    }
    PluginSandbox sandbox("reload_soak");
    sandbox.settings(
        "zoomLevel = 0.5\nrefreshWebPageSecs = 0\nWebURL = file://" CV_DEMO_PAGE "\nBrowserPath = " + browser + "\n");
    // Every process the browser starts inherits the tag, so any one left behind can be found.
    const std::string tag = "reload-soak-" + std::to_string(::getpid());
    ::setenv("CV_TEST_TAG", tag.c_str(), 1);

    bool ok = true;
    {
        // Ten frames a simulated second: the page needs a dozen or so frames to come up, and
        // each frame draws and reads back the whole desktop, which at 60 a second made the
        // frames, not the browser, most of a reload's time.
        xpsim::Options options;
        options.fps = 10;
        auto host = sandbox.startHost(options);
        const soak::Held before = soak::held();
        const std::string descriptorList = listDescriptors();
        soak::load(*host, sandbox);

        for (int round = 0; round <= reloads; ++round) {
            if (round > 0) {
                soak::run(*host, "reload; frames 2");
                // Hidden after a start: what the panel showed before is gone from the desktop.
                if (soak::panelShowsPage(*host)) {
                    std::fprintf(stderr, "reload soak: the page is still drawn after reload %d\n", round);
                    return 1;
                }
            }
            soak::run(*host, "command Corvane/TogglePanel once");
            if (!framesUntil(
                    *host, [&] { return soak::panelShowsPage(*host); }, 20ms, 60s)) {
                std::fprintf(stderr, "reload soak: the page did not reach the panel after reload %d\n%s", round,
                             host->log().c_str());
                return 1;
            }
            if (round % 10 == 0) std::printf("reload %d: the page is on the panel\n", round);
            std::fflush(stdout);
        }
        soak::run(*host, "quit");

        ok = soak::nothingOutlives("reload soak", tag);
        const soak::Held after = soak::held();
        std::printf("before the first load: %s\nafter the last unload: %s\n", before.describe().c_str(),
                    after.describe().c_str());
        if (after.descriptors != before.descriptors) {
            std::fprintf(stderr, "reload soak: descriptors before:\n%safter:\n%s", descriptorList.c_str(),
                         listDescriptors().c_str());
        }
        ok = soak::logClean("reload soak", host->log(),
                            {"xpsim: leak", "xpsim: error:", "stays mapped", "CV: lost", "could not be brought up"}) &&
             after == before && ok;
    }
    std::printf("reload soak: %d reloads, %s\n", reloads, ok ? "nothing left behind" : "FAILED");
    return ok ? 0 : 1;
}
