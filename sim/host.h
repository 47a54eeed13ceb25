// The stand-in simulator as a library: one host per process, which the XPLM functions a
// loaded module calls talk to. xpsim's main() is a thin command line over this; tests drive
// it in-process the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#    if defined(XPSIM_BUILDING_HOST)
#        define XPSIM_API __declspec(dllexport)
#    else
#        define XPSIM_API __declspec(dllimport)
#    endif
#else
#    define XPSIM_API __attribute__((visibility("default")))
#endif

namespace xpsim {

struct Options {
    int screenLeft = 0, screenTop = 1080, screenRight = 1920, screenBottom = 0;  // global desktop, y up
    double startTime = 0.0;                                                      // elapsed time at load, seconds
    int fps = 60;                                                                // simulated frame rate
    bool paced = true;         // frames follow the wall clock; false runs them back to back
    bool vr = false;           // VR on at start
    bool vrDataref = true;     // publish "sim/graphics/VR/enabled"
    std::string logFile;       // empty: the log goes to standard output
    bool hostileGl = true;     // draw callbacks start from a hostile GL state (false: --clean-gl)
    std::uint32_t glSeed = 1;  // the seed those states are drawn from (--gl-seed)
    bool comMta = false;       // Windows only: put the main thread into COM's MTA before loading
    // Pixels per boxel (--ui-scale): the desktop is drawn and read back in pixels, and the scale
    // is published as "sim/graphics/misc/user_interface_scale".
    double uiScale = 1.0;
};

class XPSIM_API Host {
public:
    explicit Host(const Options& options);
    ~Host();  // unloads a module still loaded (Disable, Stop, unload)
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Loads a module as X-Plane does: the five entry points, Start, then Enable when Start
    // returned 1; a Start that returned 0 gets no further call and the module is unloaded.
    // False with a message when the module cannot be loaded.
    bool load(const std::string& modulePath, std::string& error);

    // Runs script text: commands separated by newlines or ';' (see docs/xpsim.md).
    // False with a message on a script error.
    bool run(const std::string& script, std::string& error);

    bool pluginLoaded() const;      // a module is loaded and started
    std::string log() const;        // everything written to the log so far
    std::string stateJson() const;  // what `state FILE` writes

    // Runs n frames (flight loops, then the draw callbacks of visible windows), paced or not
    // as the options say. Also drives windows that test code created by calling XPLM directly.
    void runFrames(int n);
    double elapsedTime() const;  // the simulated clock, as XPLMGetElapsedTime reports it
    // The desktop as last drawn, RGBA rows top first (see docs/xpsim.md for the mapping);
    // false when there is no OpenGL context.
    bool readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) const;
    bool screenshot(const std::string& pngPath, std::string& error) const;

    // Asks the running script to stop after the current frame (safe to call from a signal
    // handler). run() then fails with "interrupted", and the module can still be unloaded
    // cleanly, so a Ctrl-C leaves no plugin thread or child process behind.
    static void requestInterrupt();

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace xpsim
