// spawn_probe: how long the simulator's main thread takes to start the browser, in a process as
// large as a simulator. It first holds RESIDENT GiB of memory it has written to, then starts
// the browser RUNS times exactly as the plugin does (chromium::BrowserProcess::launch: the
// call returns once the browser runs; each one is killed and reaped at once), and times a
// plain fork() as often, which is what starting it used to cost. Prints one JSON object. Not a
// test: the numbers depend on the machine (scripts/bench).
//
//   spawn_probe BROWSER [RESIDENT_GIB] [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "browser/chromium/chromium_process.h"
#include "browser/chromium/profile_cleanup.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Resident memory of this process, from the kernel's own count.
double residentGib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / (1024.0 * 1024.0);
    }
    return 0;
}

void printList(const char* name, const std::vector<double>& values, bool last) {
    std::printf("\"%s\": [", name);
    for (std::size_t i = 0; i < values.size(); ++i) std::printf("%s%.4f", i ? ", " : "", values[i]);
    std::printf("]%s", last ? "" : ", ");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: spawn_probe BROWSER [RESIDENT_GIB] [RUNS]\n");
        return 64;
    }
    const std::string browser = argv[1];
    const double wantedGib = argc > 2 ? std::atof(argv[2]) : 4.0;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 30;

    // A simulator's worth of memory, every page written so it is resident and mapped.
    const std::size_t bytes = static_cast<std::size_t>(wantedGib * 1024 * 1024 * 1024);
    void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::fprintf(stderr, "spawn_probe: cannot map %.2f GiB\n", wantedGib);
        return 1;
    }
    std::memset(memory, 0x5a, bytes);
    const double resident = residentGib();

    std::string error;
    const std::string profile = chromium::makePrivateProfile(P_tmpdir, error);
    if (profile.empty()) {
        std::fprintf(stderr, "spawn_probe: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> spawn, fork;
    for (int run = 0; run < runs; ++run) {
        int toBrowser = -1, fromBrowser = -1;
        const auto start = Clock::now();
        auto process = chromium::BrowserProcess::launch(browser, profile, toBrowser, fromBrowser, error);
        spawn.push_back(millisSince(start));
        if (!process) {
            std::fprintf(stderr, "spawn_probe: cannot start %s: %s\n", browser.c_str(), error.c_str());
            return 1;
        }
        ::close(toBrowser);
        ::close(fromBrowser);
        process.reset();  // killed with its helpers and reaped

        const auto forked = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(0);
        fork.push_back(millisSince(forked));
        if (pid > 0) ::waitpid(pid, nullptr, 0);
    }
    chromium::ProfileCleanup cleanup;
    cleanup.discard(profile);
    cleanup.stop(Clock::now() + std::chrono::seconds(30));

    std::printf("{\"resident_gib\": %.3f, ", resident);
    printList("spawn_ms", spawn, false);
    printList("fork_ms", fork, true);
    std::printf("}\n");
    ::munmap(memory, bytes);
    return 0;
}
