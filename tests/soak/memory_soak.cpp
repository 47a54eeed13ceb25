// Long-flight memory soak: snapshot after snapshot through the fake DevTools peer, or with
// --frames the live frames of a page that paints all the time, with the stand-in simulator
// unpaced, and the heap the process has in use counted by the allocator itself: glibc's
// mallinfo2, bytes in allocated chunks (uordblks) plus mapped ones (hblkhd), or in a sanitizer
// build, whose allocator is its own, the bytes it has handed out. Once the first 1,000
// pictures have brought every buffer to its working size, a heap that grows by more than 64 KiB
// per 1,000 pictures in both halves of the rest has a leak.
//
// The heap is read every few frames, and each block of 1,000 pictures counts with the least
// it held: what stays, without what passes through (a picture being decoded, a frame being
// uploaded) or the 64 KiB blocks the stand-in's GL driver keeps a varying number of.
//   cv_memory_soak [--snapshots N | --frames N] [--every N] [--limit BYTES_PER_1000]
// It prints each block's figure and the growth per 1,000; the exit status says whether the
// growth is within the limit.
#include <malloc.h>
#include <cstddef>
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#    define CV_SANITIZER_HEAP 1
// The sanitizer runtimes' own count (<sanitizer/allocator_interface.h>, which GCC does not ship).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "soak_support.h"

namespace {

using namespace std::chrono_literals;

#ifdef CV_SANITIZER_HEAP
std::size_t heapInUse() { return __sanitizer_get_current_allocated_bytes(); }
constexpr const char* heapCount = "the sanitizer allocator's bytes handed out";
#else
std::size_t heapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}
constexpr const char* heapCount = "glibc's count (mallinfo2: uordblks + hblkhd)";
#endif

}  // namespace

int main(int argc, char** argv) {
    const long frames = soak::option(argc, argv, "--frames", 0);
    const bool live = frames > 0;
    const long pictures = live ? frames : soak::option(argc, argv, "--snapshots", 10000);
    const char* kind = live ? "live frames" : "snapshots";
    const long every = soak::option(argc, argv, "--every", 1000);
    const long limit = soak::option(argc, argv, "--limit", 64 * 1024);
    if (every <= 0 || pictures < 3 * every) {
        std::fprintf(stderr, "memory soak: --snapshots or --frames must be at least three times --every\n");
        return 2;
    }

    PluginSandbox sandbox("memory_soak");
    // A reload now and then, as in a long flight; the fake peer answers at once.
    sandbox.settings(std::string("zoomLevel = 0.5\nrefreshWebPageSecs = 300\nWebURL = https://panel.corvane.ai/\n"
                                 "BrowserPath = " CV_FAKE_CDP_PATH "\nFrameSource = ") +
                     (live ? "live" : "snapshots") + "\n");
    ::setenv("CV_FAKE_CDP_LOG", sandbox.file("fake.log").c_str(), 1);
    // Live, the page paints all the time: a frame follows each acknowledgement.
    std::ofstream(sandbox.file("cues.txt")) << (live ? "animate\n" : "");
    ::setenv("CV_FAKE_CDP_CUES", sandbox.file("cues.txt").c_str(), 1);
    soak::FakePeerLog fake(sandbox.file("fake.log"));
    const auto done = [&] { return live ? fake.frames : fake.snapshots; };

    bool ok = true;
    std::vector<std::size_t> floors;  // the least heap in use seen in each block of `every` snapshots
    {
        // One frame a simulated second: a snapshot is due at every frame, and with frames back
        // to back the browser's round trip sets the pace.
        xpsim::Options options;
        options.fps = 1;
        auto host = sandbox.startHost(options);
        soak::load(*host, sandbox);
        soak::run(*host, "command Corvane/TogglePanel once");
        if (!framesUntil(
                *host, [&] { return soak::panelShowsPage(*host); }, 10ms, 60s)) {
            std::fprintf(stderr, "memory soak: no picture reached the panel\n%s", host->log().c_str());
            return 1;
        }
        std::printf("memory soak: %ld %s through the fake peer; heap in use by %s, the least in each block\n"
                    "%22s %14s %16s\n",
                    pictures, kind, heapCount, kind, "heap in use", "since the second");
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(pictures / 4 + 60);
        fake.readOn();
        for (long counted = done(), frame = 0; counted < pictures; ++frame) {
            host->runFrames(1);
            if (frame % 4 != 0) continue;
            fake.readOn();
            counted = done();
            const auto block = static_cast<std::size_t>(counted / every);
            if (block >= floors.size()) {
                if (floors.size() > 1) {
                    const std::size_t b = floors.size() - 1;
                    std::printf("%10ld to %9ld %14zu %+16ld\n", static_cast<long>(b) * every,
                                static_cast<long>(b + 1) * every, floors[b],
                                static_cast<long>(floors[b]) - static_cast<long>(floors[1]));
                    std::fflush(stdout);
                }
                floors.resize(block + 1, SIZE_MAX);
            }
            floors[block] = std::min(floors[block], heapInUse());
            if (std::chrono::steady_clock::now() > giveUp) {
                std::fprintf(stderr, "memory soak: stuck at %ld %s\n%s", counted, kind, host->log().c_str());
                return 1;
            }
        }
        soak::run(*host, "quit");
        ok = soak::logClean("memory soak", host->log(),
                            {"xpsim: leak", "xpsim: error:", "CV: lost", "did not answer", "CV: no live frames"});
    }
    // Blocks 1 to the last whole one: after the first `every` pictures, up to `pictures`.
    const std::size_t last = static_cast<std::size_t>(pictures / every) - 1;
    const auto growthPer1000 = [&](std::size_t from, std::size_t to) {
        return (static_cast<double>(floors[to]) - static_cast<double>(floors[from])) /
               (static_cast<double>((to - from) * every) / 1000.0);
    };
    const double growth = growthPer1000(1, last);
    std::printf("heap growth after the first %ld %s: %.0f bytes per 1000 (at most %ld)\n", every, kind, growth, limit);
    // A leak grows the heap all along. A single step, a picture or two held through a whole block
    // by a machine too busy to ever catch the decoder idle, shows in one half only.
    const std::size_t middle = (1 + last) / 2;
    const double firstHalf = growthPer1000(1, middle), secondHalf = growthPer1000(middle, last);
    std::printf("in the first half %.0f, in the second %.0f\n", firstHalf, secondHalf);
    if (firstHalf > static_cast<double>(limit) && secondHalf > static_cast<double>(limit)) ok = false;
    std::printf("memory soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
