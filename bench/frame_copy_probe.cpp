// frame_copy_probe: what a frame costs the simulator's main thread, against the yardstick of a
// plain copy of one. Each step is a function of its own, so that callgrind counts exactly its
// instructions (--collect-atstart=no --toggle-collect=STEP); scripts/bench divides by `repeats`.
//   copyFrame     one memcpy of a 768 x 512 x 4 frame (page scale 1)
//   copyFrame2x   one memcpy of a 1536 x 1024 x 4 frame (page scale 2)
//   drawNewFrame  the panel's draw callback taking a new 1536 x 1024 frame from the decode
//                 thread and uploading it, as the main thread runs it
//   drawIdle      the draw callback with the panel shown and no new frame
// The draws run the module's own code against the stand-in host in this process, with its
// OpenGL context (llvmpipe): what they cost in the GL driver counts with them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host.h"
#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "test_host.h"

namespace {

constexpr std::size_t frameBytes = 768u * 512u * 4u;
constexpr int width2x = 1536, height2x = 1024;
constexpr std::size_t frameBytes2x = std::size_t{width2x} * height2x * 4u;
constexpr int repeats = 10;

}  // namespace

// Out of line and never cloned (a clone has another name, which callgrind's toggle would miss),
// so callgrind can collect exactly their instructions; the empty statement after each call
// keeps the optimiser from making it a tail call (a jump out of the function, whose
// instructions callgrind would then count outside it).
#define CV_NOT_A_TAIL_CALL asm volatile("" ::: "memory")
extern "C" __attribute__((noipa)) void copyFrame(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
    std::memcpy(to, from, size);
    CV_NOT_A_TAIL_CALL;
}
extern "C" __attribute__((noipa)) void copyFrame2x(std::uint8_t* to, const std::uint8_t* from, std::size_t size) {
    std::memcpy(to, from, size);
    CV_NOT_A_TAIL_CALL;
}
extern "C" __attribute__((noipa)) void drawNewFrame() {
    drawPanelWindow(panelWindow, nullptr);
    CV_NOT_A_TAIL_CALL;
}
extern "C" __attribute__((noipa)) void drawIdle() {
    drawPanelWindow(panelWindow, nullptr);
    CV_NOT_A_TAIL_CALL;
}

int main() {
    std::vector<std::uint8_t> frame(frameBytes2x, 0x7f), copy(frameBytes2x);
    for (int i = 0; i < repeats; ++i) copyFrame(copy.data(), frame.data(), frameBytes);
    for (int i = 0; i < repeats; ++i) copyFrame2x(copy.data(), frame.data(), frameBytes2x);

    xpsim::Options options;
    options.paced = false;
    options.logFile = "/dev/null";
    options.screenTop = height2x;
    options.screenRight = width2x;
    xpsim::Host host(options);
    makePanelLikeWindow(0, height2x, width2x, 0);
    createPanelTexture();
    setBlankPanelImage();
    // The first frame of the new size re-specifies the texture; the frames after it are the
    // ones a live page sends. The driver compiles what it draws and uploads with the first
    // few: a one-time cost, left out.
    for (int i = 0; i < 3; ++i) {
        publishFrame(frame, width2x, height2x);
        drawPanelWindow(panelWindow, nullptr);
        drawPanelWindow(panelWindow, nullptr);
    }
    for (int i = 0; i < repeats; ++i) {
        publishFrame(std::vector<std::uint8_t>(frameBytes2x, static_cast<std::uint8_t>(i)), width2x, height2x);
        drawNewFrame();
    }
    for (int i = 0; i < repeats; ++i) drawIdle();
    const bool shown = uploadPixels.size() == frameBytes2x && uploadPixels[0] == repeats - 1;
    destroyPanelWindow();
    deletePanelTexture();
    std::printf("{\"repeats\": %d, \"bytes\": %zu, \"bytes_2x\": %zu}\n", repeats, frameBytes, frameBytes2x);
    return shown && copy[frameBytes / 2] == 0x7f ? 0 : 1;
}
