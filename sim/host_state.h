// What the stand-in simulator holds: plugins, windows, commands, menus, flight loops and
// textures, plus the clock and the log. One HostState exists per process; the XPLM functions
// reach it through currentHostState(). It belongs to the main thread: a module's worker
// thread that calls XPLM by mistake gets an error line and waits for the host lock (see
// HostLock), so its call is carried out without tearing the host's state. The log has a
// lock of its own and never waits for the host.
#pragma once

#include "platform/xplm.h"
#include "host.h"
#include "host_lock.h"
#include "keyboard.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace xpsim {

class GlContext;
class DesktopRenderer;

constexpr XPLMPluginID kInProcessPluginId = 1;  // XPLM calls made by test code, no module loaded
constexpr int kLayerCount = 4;

struct PluginRecord {
    XPLMPluginID id = XPLM_NO_PLUGIN_ID;
    std::string path;  // absolute path the module was loaded from (UTF-8, the system's separators)
    std::string name, signature, description;
    bool started = false;
    bool enabled = false;
    bool nativePaths = false;  // XPLM_USE_NATIVE_PATHS, which each plugin enables for itself
};

struct WindowRecord {
    XPLMPluginID owner = XPLM_NO_PLUGIN_ID;
    XPLMCreateWindow_t params{};  // callbacks and refcon as created
    std::string title;
    int left = 0, top = 0, right = 0, bottom = 0;  // desktop geometry, kept while in VR
    bool visible = false;                          // what XPLMGetWindowIsVisible says; the close box clears it
    bool drawn = false;                            // its draw callback ran in the last frame
    int positioningMode = xplm_WindowPositionFree;
    int monitor = -1;
    // Popped out (positioning mode pop-out): a window of its own on the operating system's
    // desktop, at this rectangle in desktop pixels (y up, origin at the main monitor's bottom
    // left). Its draw callback and pointer then work in its own space: its size in boxels,
    // origin at its bottom left.
    int osLeft = 0, osTop = 0, osRight = 0, osBottom = 0;
    bool poppedOut() const { return positioningMode == xplm_WindowPopOut; }
    std::array<float, 4> gravity{0.0f, 1.0f, 0.0f, 1.0f};
    int layer = xplm_WindowLayerFloatingWindows;
    int decoration = xplm_WindowDecorationNone;
    std::uint64_t creationOrder = 0;
};

struct CommandHandler {
    XPLMCommandCallback_f callback = nullptr;
    bool before = false;
    void* refcon = nullptr;
    XPLMPluginID owner = XPLM_NO_PLUGIN_ID;
};

struct CommandRecord {
    std::string name, description;
    std::vector<CommandHandler> handlers;  // in registration order
};

struct MenuItem {
    std::string title;
    void* itemRef = nullptr;
};

struct MenuRecord {
    XPLMPluginID owner = XPLM_NO_PLUGIN_ID;
    std::string title;
    XPLMMenuID parent = nullptr;
    int parentItem = 0;
    XPLMMenuHandler_f handler = nullptr;
    void* menuRef = nullptr;
    std::vector<MenuItem> items;
};

struct FlightLoopRecord {
    XPLMFlightLoop_f callback = nullptr;
    void* refcon = nullptr;
    XPLMPluginID owner = XPLM_NO_PLUGIN_ID;
    float interval = 0.0f;      // as last set: < 0 frames, > 0 seconds, 0 paused
    std::int64_t dueFrame = 0;  // for a frame interval
    double dueTime = 0.0;       // for a seconds interval
    double lastCallTime = 0.0;  // elapsed time of the last call (or of registration)
    bool alive = true;          // cleared on unregister; swept after the dispatch
};

struct TextureRecord {
    int name = 0;
    XPLMPluginID owner = XPLM_NO_PLUGIN_ID;
};

// Puts a plugin's id in place as "the plugin whose code is running" for the length of one
// call into it, and restores the previous one afterwards (calls nest: a window draw can run
// a command).
class PluginScope {
public:
    PluginScope(XPLMPluginID& current, XPLMPluginID id) : current_(current), saved_(current) { current_ = id; }
    ~PluginScope() { current_ = saved_; }
    PluginScope(const PluginScope&) = delete;
    PluginScope& operator=(const PluginScope&) = delete;

private:
    XPLMPluginID& current_;
    XPLMPluginID saved_;
};

class HostState {
public:
    explicit HostState(const Options& options);
    virtual ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    // Held by whoever works on the state below; see host_lock.h.
    HostLock& lock() { return lock_; }

    // --- log
    void writeLog(const std::string& text);  // verbatim
    void hostLine(const std::string& text);  // "xpsim: " + text + "\n"
    std::string logText() const;
    // "error: FUNCTION called off the main thread", the first time for each function and then
    // at most once a minute, so a worker calling it for every snapshot does not flood the log.
    void reportOffMainThread(const char* function);

    // --- module lifecycle
    bool loadModule(const std::string& path, std::string& error);
    void unloadModule();  // Disable, Stop, leak check, unload; nothing when no module
    bool moduleLoaded() const { return module_ != nullptr; }
    const PluginRecord& plugin() const { return plugin_; }
    // As Plugin Admin does: XPluginDisable / XPluginEnable of the loaded plugin.
    void disablePlugin();
    void enablePlugin();
    // A disabled plugin gets no callback of any kind; test code's calls are always enabled.
    bool ownerEnabled(XPLMPluginID owner) const;
    void sendMessage(XPLMPluginID from, int message);
    std::string stateJson() const;

    // --- frames
    void runFrames(std::int64_t count);
    double elapsedTime() const { return options_.startTime + static_cast<double>(frame_) / options_.fps; }
    int fps() const { return options_.fps; }

    // --- commands, menus
    XPLMCommandRef findCommand(const std::string& name);
    void runCommand(XPLMCommandRef ref, XPLMCommandPhase phase);
    bool runMenuItem(const std::string& title);  // false: no such item

    // --- pointer, keyboard and windows
    void pointer(int x, int y, XPLMMouseStatus status);
    void rightClick(int x, int y);  // right press then release
    void wheel(int x, int y, int clicks, int axis);
    // The pointer rests on the point: the cursor callbacks are asked at once, and again
    // every frame while it stays there.
    void hover(int x, int y);
    void hoverOff();  // the pointer is over no window
    // Keys go to the window with the keyboard focus: down then up; each stroke of typed
    // text the same; a held key goes down, repeats while held, then comes up.
    void key(const KeyStroke& stroke);
    void typeText(const std::vector<KeyStroke>& strokes);
    void holdKey(const KeyStroke& stroke, double seconds);
    void takeKeyboardFocus(XPLMWindowID id);  // null: the keys go to the simulator
    bool hasKeyboardFocus(XPLMWindowID id) const;
    void closeBox(WindowRecord& w);
    WindowRecord* panelWindow();  // first existing window of the loaded plugin
    // Pointer commands that follow go to the popped-out window `id` (in its own boxels), or with
    // null to the simulator's window.
    void pointerIn(XPLMWindowID id) { pointerWindow_ = id; }
    void setVr(bool on);
    bool vrOn() const { return vr_; }

    // --- screenshots
    bool screenshot(const std::string& path, std::string& error);
    // What the popped-out window drawn last drew, in its pixels.
    bool screenshotPopout(const std::string& path, std::string& error);
    bool readDesktop(std::vector<std::uint8_t>& rgbaTopRowFirst, int& width, int& height);

    // --- one desktop pixel watched over time (host_watch.cpp)
    // Appends "<Unix time> R G B" lines to `path`: one at once, for the desktop as last drawn,
    // then one after each frame's drawing that changed the pixel's colour. Replaces an earlier
    // watch. False with a message without a GL context, off the desktop, or when the file
    // cannot be opened.
    bool watch(int x, int y, const std::string& path, std::string& error);
    bool unwatch();  // false when nothing was watched
    // Runs frames until the pixel has the colour `rgb` (each channel within 24), at most
    // `maxFrames`; false with a message when it never does, off the desktop or without a GL
    // context. A script waits on what it needs to see instead of for a fixed time.
    bool runUntilPixel(int x, int y, const std::array<std::uint8_t, 3>& rgb, std::int64_t maxFrames,
                       std::string& error);

    // --- what the XPLM functions call (xplm_api.cpp)
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }
    XPLMPluginID currentPlugin() const { return currentPlugin_; }
    // The plugin's record; during XPluginStart its name, signature and description are read
    // from the buffers the plugin is filling.
    PluginRecord pluginById(XPLMPluginID id, bool& found) const;
    // Plugin features (host_features.cpp): the host has XPLM_USE_NATIVE_PATHS only.
    bool hasFeature(const char* name) const;
    void enableFeature(const char* name, bool enable);
    // A path the host keeps, in the form the calling plugin has asked for (os::nativePath or
    // os::legacyPath).
    std::string pathForCaller(const std::string& path) const;
    void registerFlightLoop(XPLMFlightLoop_f cb, float interval, void* refcon);
    void unregisterFlightLoop(XPLMFlightLoop_f cb, void* refcon);
    XPLMCommandRef createCommand(const char* name, const char* description);
    void registerCommandHandler(XPLMCommandRef ref, XPLMCommandCallback_f cb, int before, void* refcon);
    void unregisterCommandHandler(XPLMCommandRef ref, XPLMCommandCallback_f cb, int before, void* refcon);
    XPLMMenuID createMenu(const char* name, XPLMMenuID parent, int parentItem, XPLMMenuHandler_f handler,
                          void* menuRef);
    int appendMenuItem(XPLMMenuID menu, const char* name, void* itemRef);
    void destroyMenu(XPLMMenuID menu);  // with its submenus
    XPLMDataRef findDataRef(const char* name);
    int getDatai(XPLMDataRef ref);
    float getDataf(XPLMDataRef ref);
    XPLMWindowID createWindow(const XPLMCreateWindow_t* params);
    void destroyWindow(XPLMWindowID id);
    WindowRecord* window(XPLMWindowID id, const char* caller);  // null (and a log line) if unknown
    bool windowInVr(const WindowRecord& w) const;
    void windowGeometry(const WindowRecord& w, int& l, int& t, int& r, int& b) const;
    void setPositioningMode(WindowRecord& w, int mode, int monitor);
    void setWindowGeometry(WindowRecord& w, int l, int t, int r, int b);
    // A popped-out window's rectangle on the operating system's desktop; false (and a log line)
    // for a window that is not popped out.
    bool osGeometry(const WindowRecord& w, int& l, int& t, int& r, int& b, const char* caller);
    bool setOsGeometry(WindowRecord& w, int l, int t, int r, int b, const char* caller);
    // The one monitor: the global desktop in boxels, and in the operating system's pixels.
    void monitorBoundsOs(int& l, int& t, int& r, int& b) const;
    void setSunPitch(float degrees) { sunPitchDataRef_ = degrees; }
    bool windowInFront(const WindowRecord& w) const;
    void bringToFront(WindowRecord& w);
    void screenBounds(int& l, int& t, int& r, int& b) const;
    void generateTextures(int* out, int count);
    void bindTexture(int name, int unit);
    void setGraphicsState(int fog, int texUnits, int lighting, int alphaTest, int blend, int depthTest, int depthWrite);
    int liveTextureCount() const;
    const Options& options() const { return options_; }

    // Calls into the module with its id as the current plugin. An exception escaping the
    // module is a fault of the module: it is logged and the call yields a default value, so
    // the host (like X-Plane) is not torn down by it.
    // The host lock is free for the length of the call, so the module may wait for its own
    // threads even when they (wrongly) call XPLM.
    template <typename F>
    auto intoModule(XPLMPluginID id, const char* what, F&& call) -> decltype(call()) {
        PluginScope scope(currentPlugin_, id);
        HostLock::Released released(lock_);
        try {
            return call();
        } catch (...) {
            hostLine(std::string("error: an exception escaped ") + what);
            if constexpr (!std::is_void_v<decltype(call())>) return decltype(call()){};
        }
    }

private:
    using WindowMap = std::map<XPLMWindowID, std::unique_ptr<WindowRecord>>;

    void runOneFrame();
    void checkWatch();  // after each frame's drawing
    void runFlightLoops();
    void drawWindows();
    void pace();
    void leakCheckAndRemove(XPLMPluginID owner, const std::string& who);
    void unloadLibrary(void* module);
    // Logs a GL error the module's code left pending, once per place and error code, so a
    // faulty draw does not flood the log sixty times a second.
    void reportGlError(XPLMPluginID owner, const std::string& where);
    // The GL state the next draw callback starts from: the hostile one drawn from the seed,
    // or the host's own clean state with --clean-gl.
    void prepareDrawCallbackGl();
    std::vector<WindowRecord*> frontOrder(int layer) const;  // back to front, visible or not
    // The windows under a point, front-most first: those an event there may go to, each
    // passing it on to the next by returning 0.
    std::vector<XPLMWindowID> windowsUnder(int x, int y) const;
    // Whether the pointer can reach the window and it is drawn: shown, its plugin enabled,
    // and in VR exactly when the headset is on.
    bool onScreen(const WindowRecord& w) const;
    WindowRecord* liveWindow(XPLMWindowID id);  // null when it has been destroyed meanwhile
    void moveKeyboardFocus(XPLMWindowID to);
    // One key callback of the window with the focus; false (nothing called) when the keys go
    // to the simulator.
    bool sendKey(const KeyStroke& stroke, int flags);
    void askCursor(int x, int y);  // the cursor callbacks under the point, front to back
    int vrDataRefValue() const { return vr_ ? 1 : 0; }

    Options options_;
    std::thread::id mainThread_;
    HostLock lock_;

    mutable std::mutex logMutex_;
    std::string log_;
    std::ofstream logFile_;
    struct OffThreadReport {
        std::chrono::steady_clock::time_point last;
        long suppressed = 0;
    };
    std::mutex offThreadMutex_;
    std::map<std::string, OffThreadReport> offThreadReports_;

    void* module_ = nullptr;
    PluginRecord plugin_;
    const char* startBuffers_[3] = {nullptr, nullptr, nullptr};  // name, signature, description
    PluginRecord inProcess_;
    XPLMPluginID nextPluginId_ = 2;
    XPLMPluginID currentPlugin_ = kInProcessPluginId;
    struct EntryPoints {
        int (*start)(char*, char*, char*) = nullptr;
        void (*stop)() = nullptr;
        int (*enable)() = nullptr;
        void (*disable)() = nullptr;
        void (*receiveMessage)(XPLMPluginID, int, void*) = nullptr;
    } entry_;

    std::int64_t frame_ = 0;
    int flightLoopCounter_ = 0;
    double lastFlightLoopTime_ = 0.0;
    bool pacingStarted_ = false;
    std::chrono::steady_clock::time_point paceBase_;
    std::int64_t paceBaseFrame_ = 0;

    WindowMap windows_;
    std::uint64_t windowSerial_ = 0;
    std::array<std::vector<XPLMWindowID>, kLayerCount> zOrder_;  // back to front per layer
    XPLMWindowID captured_ = nullptr;                            // the window that took the press, until release
    bool pressTakenBySimulator_ = false;                         // every window passed the press on
    XPLMWindowID focused_ = nullptr;  // the window keys go to, given by XPLMTakeKeyboardFocus
    bool pointerOn_ = false;          // the pointer rests on (pointerX_, pointerY_)
    int pointerX_ = 0, pointerY_ = 0;
    int lastCursor_ = -1;  // what the cursor callbacks last settled on, -1 before any

    std::vector<std::unique_ptr<CommandRecord>> commands_;
    std::vector<std::unique_ptr<MenuRecord>> menus_;
    std::vector<std::unique_ptr<FlightLoopRecord>> flightLoops_;
    bool dispatchingFlightLoops_ = false;
    std::vector<TextureRecord> textures_;
    int fallbackTextureName_ = 0;  // names handed out when there is no GL context

    bool vr_ = false;
    int vrDataRef_ = 0;                     // its address is the dataref handle
    float uiScaleDataRef_ = 1;              // likewise
    float sunPitchDataRef_ = 45;            // the sun's height above the horizon, degrees (script: sun)
    XPLMWindowID pointerWindow_ = nullptr;  // the popped-out window the pointer is in, if any
    bool popoutDrawn_ = false;              // the offscreen target holds a popped-out window's picture

    struct PixelWatch {
        int x = 0, y = 0;
        std::string path;
        std::ofstream out;
        std::array<std::uint8_t, 3> last{};
    };
    std::unique_ptr<PixelWatch> watch_;

    std::unique_ptr<GlContext> gl_;
    std::unique_ptr<DesktopRenderer> renderer_;
    std::array<int, 8> boundTexture_{};  // XPLMBindTexture2d's cache, per unit
    std::mt19937 glRandom_;              // the hostile GL states, reproducible from --gl-seed
    std::set<std::string> reportedGlErrors_;
};

// The host the XPLM functions talk to. With no Host alive, test code calling XPLM functions
// directly gets a default one, made on first use.
HostState& currentHostState();
// Set from a signal handler; the frame loop and the script runner stop at the next check.
void requestHostInterrupt();
bool hostInterruptRequested();
void resetHostInterrupt();

// True when the GL context holds a texture of this name (host_graphics.cpp).
bool textureExists(int name);
void setCurrentHostState(HostState* state);
HostState* existingHostState();  // null when no host exists; never makes one

}  // namespace xpsim
