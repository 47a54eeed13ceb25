// Restart soak: the browser lost again and again while the simulator flies on. The built module
// in the stand-in simulator in this process, with the fake DevTools peer as its browser: each
// of the first N browsers exits at a snapshot (the first at its twentieth, once it has been
// looked at, the others at their second), so the plugin starts a new one after its back-off
// (1, 2, 4 ... 60 s); the next one behaves. Once it shows its page, the process must hold the
// same open descriptors, threads and child processes as when the first one did: nothing of
// the lost browsers (their pipes, I/O threads, processes, clean-ups) is left. Seven restarts,
// the default, take the back-off to its longest pause once, about two minutes in all; each
// further one adds a minute.
//   cv_restart_soak [--restarts N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "soak_support.h"

using namespace std::chrono_literals;

int main(int argc, char** argv) {
    const int restarts = static_cast<int>(soak::option(argc, argv, "--restarts", 7));

    PluginSandbox sandbox("restart_soak");
    // Snapshots twice a second bring each browser to the one it exits at; a still page's live
    // frames would not.
    sandbox.settings("refreshWebPageSecs = 0\nFrameSource = snapshots\nBrowserPath = " CV_FAKE_CDP_PATH "\n");
    std::ostringstream cues;
    for (int n = 1; n <= restarts; ++n) cues << "browser " << n << ": exit " << (n == 1 ? 20 : 2) << "\n";
    std::ofstream(sandbox.file("cues.txt")) << cues.str();
    const std::string fakeLog = sandbox.file("fake.log");
    ::setenv("CV_FAKE_CDP_LOG", fakeLog.c_str(), 1);
    ::setenv("CV_FAKE_CDP_CUES", sandbox.file("cues.txt").c_str(), 1);
    const std::string tag = "restart-soak-" + std::to_string(::getpid());
    ::setenv("CV_TEST_TAG", tag.c_str(), 1);

    auto host = sandbox.startHost();
    soak::load(*host, sandbox);
    soak::run(*host, "command Corvane/TogglePanel once");
    if (!framesUntil(
            *host, [&] { return soak::panelShowsPage(*host); }, 5ms, 60s)) {
        std::fprintf(stderr, "restart soak: the first browser's page never reached the panel\n%s", host->log().c_str());
        return 1;
    }
    const soak::Held before = soak::held();
    std::printf("first browser up: %s\n", before.describe().c_str());

    // Every lost browser is one line; the last one comes up and is asked for snapshots.
    soak::FakePeerLog fake(fakeLog);
    const bool restarted = framesUntil(
        *host,
        [&] {
            fake.readOn();
            return fake.browsers == restarts + 1 && fake.lastBrowsersSnapshots >= 2;
        },
        5ms, std::chrono::minutes(restarts));
    const int lost = testprocs::countOccurrences(host->log(), "CV: lost the browser");
    std::printf("%d browsers started, %d lost\n", fake.browsers, lost);
    if (!restarted || lost != restarts) {
        std::fprintf(stderr, "restart soak: expected %d restarts\n%s", restarts, host->log().c_str());
        return 1;
    }
    // A lost browser's pipe thread and process go as soon as it is reaped and its pipe idle.
    soak::Held after = soak::held();
    framesUntil(
        *host, [&] { return (after = soak::held()) == before; }, 5ms, 30s);
    std::printf("after %d restarts: %s\n", restarts, after.describe().c_str());
    bool ok = after == before;
    if (!ok) std::fprintf(stderr, "restart soak: the process holds more than it did before the restarts\n");

    soak::run(*host, "quit");
    ok = soak::nothingOutlives("restart soak", tag) && ok;
    host.reset();
    std::printf("restart soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
