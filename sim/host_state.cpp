// The host's core: the log, loading and unloading a module as X-Plane does, the leak check
// at unload, frames and flight loops, commands, menus and datarefs.
#include "host_state.h"

#include "desktop_renderer.h"
#include "gl_context.h"
#include "os.h"
#include "platform_pump.h"
#include "utf8_path.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace xpsim {
namespace {

// Atomic because a module's worker thread may log while the main thread swaps hosts.
std::atomic<HostState*> g_current{nullptr};
// Made on first use when no Host is alive, and kept (reachable) to the end of the process
// unless a Host takes over: tearing GL down during static destruction is not safe.
HostState* g_default = nullptr;

std::atomic<bool> g_interrupt{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

constexpr const char* kVrDataRefName = "sim/graphics/VR/enabled";
constexpr const char* kUiScaleDataRefName = "sim/graphics/misc/user_interface_scale";
constexpr const char* kSunPitchDataRefName = "sim/graphics/scenery/sun_pitch_degrees";
constexpr std::size_t kSdkInfoBytes = 256;    // what the SDK promises for name, signature, description
constexpr std::size_t kInfoBufferSize = 512;  // what the stand-in hands out

}  // namespace

void requestHostInterrupt() { g_interrupt.store(true); }

bool hostInterruptRequested() { return g_interrupt.load(); }

void resetHostInterrupt() { g_interrupt.store(false); }

HostState& currentHostState() {
    if (g_current.load() == nullptr) {
        Options options;
        options.paced = false;
        g_default = new HostState(options);
        g_current.store(g_default);
    }
    return *g_current.load();
}

HostState* existingHostState() { return g_current.load(); }

void setCurrentHostState(HostState* state) {
    if (g_default != nullptr) {
        // Whatever test code made in the default host goes with it.
        g_current.store(nullptr);
        delete g_default;
        g_default = nullptr;
    }
    g_current.store(state);
}

HostState::HostState(const Options& options)
    : options_(options), mainThread_(std::this_thread::get_id()), glRandom_(options.glSeed) {
    if (options_.fps <= 0) options_.fps = 60;
    if (!options_.logFile.empty()) {
        logFile_.open(utf8Path(options_.logFile), std::ios::out | std::ios::trunc | std::ios::binary);
        if (!logFile_) std::cerr << "xpsim: cannot open log file " << options_.logFile << "; logging to stdout\n";
    }
#if defined(_WIN32)
    if (options_.comMta && !os::enterMultithreadedApartment())
        hostLine("could not enter COM's multithreaded apartment");
#endif
    inProcess_.id = kInProcessPluginId;
    inProcess_.name = "in-process caller";
    inProcess_.started = true;
    inProcess_.enabled = true;
    vr_ = options_.vr;
    vrDataRef_ = vr_ ? 1 : 0;
    uiScaleDataRef_ = static_cast<float>(options_.uiScale);
    lastFlightLoopTime_ = elapsedTime();

    const int width = options_.screenRight - options_.screenLeft;
    const int height = options_.screenTop - options_.screenBottom;
    std::string error;
    if (width <= 0 || height <= 0) {
        hostLine("the desktop has no area; drawing is off");
    } else if ((gl_ = createGlContext(desktopPixels(width, options_.uiScale), desktopPixels(height, options_.uiScale),
                                      error)) == nullptr) {
        hostLine("no OpenGL context (" + error + "); windows are not drawn and textures are not real");
    } else {
        renderer_ = std::make_unique<DesktopRenderer>(*gl_, options_.screenLeft, options_.screenTop,
                                                      options_.screenRight, options_.screenBottom, options_.uiScale);
        renderer_->beginDesktop();
        boundTexture_.fill(-1);
        hostLine("drawing with " + gl_->description());
        if (!options_.hostileGl) {
            hostLine("draw callbacks start from a clean GL state (--clean-gl)");
        } else {
            hostLine("draw callbacks start from a hostile GL state drawn from seed " + std::to_string(options_.glSeed) +
                     (renderer_->hasUnpackBuffer() ? "" : "; this context has no buffer objects, so none is bound"));
        }
    }
}

HostState::~HostState() {
    std::lock_guard<HostLock> guard(lock_);
    unloadModule();
#if defined(_WIN32)
    if (options_.comMta) os::leaveMultithreadedApartment();
#endif
    // Whatever test code created directly is dropped with the host.
    windows_.clear();
    renderer_.reset();
    gl_.reset();
}

// ---------------------------------------------------------------- log

void HostState::writeLog(const std::string& text) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_ += text;
    if (logFile_.is_open() && logFile_) {
        logFile_ << text;
        logFile_.flush();
    } else {
        std::cout << text;
        std::cout.flush();
    }
}

void HostState::hostLine(const std::string& text) { writeLog("xpsim: " + text + "\n"); }

std::string HostState::logText() const {
    std::lock_guard<std::mutex> lock(logMutex_);
    return log_;
}

void HostState::reportOffMainThread(const char* function) {
    const auto now = std::chrono::steady_clock::now();
    long suppressed = 0;
    {
        std::lock_guard<std::mutex> lock(offThreadMutex_);
        auto [it, first] = offThreadReports_.try_emplace(function);
        OffThreadReport& report = it->second;
        if (!first && now - report.last < std::chrono::minutes(1)) {
            ++report.suppressed;
            return;
        }
        suppressed = report.suppressed;
        report.last = now;
        report.suppressed = 0;
    }
    std::string line = std::string("error: ") + function + " called off the main thread";
    if (suppressed > 0) line += " (and " + std::to_string(suppressed) + " more times since the last report)";
    hostLine(line);
}

// ---------------------------------------------------------------- modules

PluginRecord HostState::pluginById(XPLMPluginID id, bool& found) const {
    found = true;
    if (id == kInProcessPluginId) return inProcess_;
    if (module_ != nullptr && id == plugin_.id) {
        PluginRecord record = plugin_;
        if (startBuffers_[0] != nullptr) {
            // Bounded: the plugin may not have terminated what it has written so far.
            auto text = [](const char* buffer) {
                return std::string(buffer, std::find(buffer, buffer + kInfoBufferSize - 1, '\0'));
            };
            record.name = text(startBuffers_[0]);
            record.signature = text(startBuffers_[1]);
            record.description = text(startBuffers_[2]);
        }
        return record;
    }
    found = false;
    return PluginRecord{};
}

bool HostState::loadModule(const std::string& path, std::string& error) {
    if (module_ != nullptr) {
        error = "a module is already loaded (" + plugin_.path + ")";
        return false;
    }
    const std::string absolute = os::absolutePath(path);
    std::string why;
    void* module = nullptr;
    {
        // The module's static initialisation is its code, run without the host lock.
        HostLock::Released released(lock_);
        module = os::loadModule(absolute, why);
    }
    if (module == nullptr) {
        error = "cannot load " + absolute + ": " + why;
        return false;
    }
    EntryPoints entry;
    entry.start = reinterpret_cast<decltype(entry.start)>(os::findSymbol(module, "XPluginStart"));
    entry.stop = reinterpret_cast<decltype(entry.stop)>(os::findSymbol(module, "XPluginStop"));
    entry.enable = reinterpret_cast<decltype(entry.enable)>(os::findSymbol(module, "XPluginEnable"));
    entry.disable = reinterpret_cast<decltype(entry.disable)>(os::findSymbol(module, "XPluginDisable"));
    entry.receiveMessage =
        reinterpret_cast<decltype(entry.receiveMessage)>(os::findSymbol(module, "XPluginReceiveMessage"));
    std::string missing;
    if (entry.start == nullptr) missing += " XPluginStart";
    if (entry.stop == nullptr) missing += " XPluginStop";
    if (entry.enable == nullptr) missing += " XPluginEnable";
    if (entry.disable == nullptr) missing += " XPluginDisable";
    if (entry.receiveMessage == nullptr) missing += " XPluginReceiveMessage";
    if (!missing.empty()) {
        os::unloadModule(module);
        error = "cannot load " + absolute + ": missing entry point(s):" + missing;
        return false;
    }

    module_ = module;
    entry_ = entry;
    plugin_ = PluginRecord{};
    plugin_.id = nextPluginId_++;
    plugin_.path = absolute;
    hostLine("loaded " + absolute);

    std::vector<char> name(kInfoBufferSize, '\0'), signature(kInfoBufferSize, '\0'), description(kInfoBufferSize, '\0');
    startBuffers_[0] = name.data();
    startBuffers_[1] = signature.data();
    startBuffers_[2] = description.data();
    if (renderer_ != nullptr) renderer_->takeGlError();
    const int started = intoModule(plugin_.id, "XPluginStart",
                                   [&] { return entry_.start(name.data(), signature.data(), description.data()); });
    reportGlError(plugin_.id, "XPluginStart");
    startBuffers_[0] = startBuffers_[1] = startBuffers_[2] = nullptr;
    name.back() = signature.back() = description.back() = '\0';
    plugin_.name = name.data();
    plugin_.signature = signature.data();
    plugin_.description = description.data();
    // The buffers here are larger than the SDK promises, so an overrun shows up as text
    // rather than as a corrupted simulator.
    for (const std::string* text : {&plugin_.name, &plugin_.signature, &plugin_.description}) {
        if (text->size() >= kSdkInfoBytes) {
            hostLine("error: XPluginStart wrote " + std::to_string(text->size() + 1) +
                     " bytes into a buffer X-Plane makes 256 bytes long");
        }
    }

    if (started == 0) {
        // X-Plane gives a plugin whose start failed no further call, not even Stop.
        hostLine("XPluginStart of " + plugin_.name + " returned 0; the plugin is unloaded without a stop");
        // Plugin Admin shows the description of a plugin that failed: the place for the reason.
        hostLine(plugin_.description.empty() ? std::string("the failed plugin gave no reason in its description")
                                             : "the failed plugin's description: " + plugin_.description);
        leakCheckAndRemove(plugin_.id, plugin_.name);
        unloadLibrary(module_);
        module_ = nullptr;
        entry_ = EntryPoints{};
        plugin_.started = false;
        return true;
    }
    plugin_.started = true;
    hostLine("started " + plugin_.name + " (" + plugin_.signature + ")");
    const int enabled = intoModule(plugin_.id, "XPluginEnable", [&] { return entry_.enable(); });
    plugin_.enabled = enabled != 0;
    if (!plugin_.enabled) hostLine("XPluginEnable of " + plugin_.name + " returned 0; the plugin stays disabled");
    return true;
}

void HostState::unloadModule() {
    if (module_ == nullptr) return;
    if (plugin_.enabled) intoModule(plugin_.id, "XPluginDisable", [&] { entry_.disable(); });
    plugin_.enabled = false;
    if (renderer_ != nullptr) renderer_->takeGlError();
    intoModule(plugin_.id, "XPluginStop", [&] { entry_.stop(); });
    reportGlError(plugin_.id, "XPluginStop");
    plugin_.started = false;
    leakCheckAndRemove(plugin_.id, plugin_.name);
    unloadLibrary(module_);
    module_ = nullptr;
    entry_ = EntryPoints{};
    hostLine("unloaded " + plugin_.name);
    if (os::moduleStillMapped(plugin_.path)) {
        hostLine("note: " + plugin_.path +
                 " stays mapped after unload, so a reload keeps its global variables' values");
    }
}

void HostState::unloadLibrary(void* module) {
    // The module's static destructors are its code, run without the host lock.
    HostLock::Released released(lock_);
    os::unloadModule(module);
}

void HostState::disablePlugin() {
    if (module_ == nullptr || !plugin_.enabled) {
        hostLine("disable: no enabled plugin");
        return;
    }
    intoModule(plugin_.id, "XPluginDisable", [&] { entry_.disable(); });
    plugin_.enabled = false;
    hostLine("disabled " + plugin_.name);
}

void HostState::enablePlugin() {
    if (module_ == nullptr || plugin_.enabled) {
        hostLine("enable: no disabled plugin");
        return;
    }
    const int enabled = intoModule(plugin_.id, "XPluginEnable", [&] { return entry_.enable(); });
    plugin_.enabled = enabled != 0;
    hostLine(plugin_.enabled ? "enabled " + plugin_.name
                             : "XPluginEnable of " + plugin_.name + " returned 0; the plugin stays disabled");
}

bool HostState::ownerEnabled(XPLMPluginID owner) const {
    if (owner == kInProcessPluginId) return true;
    return module_ != nullptr && owner == plugin_.id && plugin_.enabled;
}

void HostState::leakCheckAndRemove(XPLMPluginID owner, const std::string& who) {
    const std::string by = " left by " + who;
    for (auto it = windows_.begin(); it != windows_.end();) {
        if (it->second->owner == owner) {
            hostLine("leak: window \"" + it->second->title + "\"" + by);
            for (auto& layer : zOrder_) layer.erase(std::remove(layer.begin(), layer.end(), it->first), layer.end());
            if (captured_ == it->first) captured_ = nullptr;
            it = windows_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& loop : flightLoops_) {
        if (loop->alive && loop->owner == owner) {
            hostLine("leak: flight loop" + by);
            loop->alive = false;
        }
    }
    if (!dispatchingFlightLoops_) {
        flightLoops_.erase(std::remove_if(flightLoops_.begin(), flightLoops_.end(),
                                          [](const auto& loop) { return !loop->alive; }),
                           flightLoops_.end());
    }
    for (auto& command : commands_) {
        auto& handlers = command->handlers;
        for (const auto& handler : handlers) {
            if (handler.owner == owner) hostLine("leak: command handler on " + command->name + by);
        }
        handlers.erase(std::remove_if(handlers.begin(), handlers.end(),
                                      [owner](const CommandHandler& h) { return h.owner == owner; }),
                       handlers.end());
    }
    // Menus are not taken away with their plugin: what it did not destroy stays listed (its
    // items no longer run) and is told, so a leak shows.
    const auto menusLeft =
        std::count_if(menus_.begin(), menus_.end(), [owner](const auto& menu) { return menu->owner == owner; });
    if (menusLeft > 0) hostLine(who + " left " + std::to_string(menusLeft) + " menu(s) behind");
    for (const auto& texture : textures_) {
        if (texture.owner == owner && gl_ != nullptr && textureExists(texture.name)) {
            hostLine("leak: texture " + std::to_string(texture.name) + by);
        }
    }
    textures_.erase(std::remove_if(textures_.begin(), textures_.end(),
                                   [owner](const TextureRecord& t) { return t.owner == owner; }),
                    textures_.end());
}

void HostState::sendMessage(XPLMPluginID from, int message) {
    if (module_ == nullptr || !plugin_.enabled) {
        hostLine("message " + std::to_string(message) + " not delivered: no enabled plugin");
        return;
    }
    intoModule(plugin_.id, "XPluginReceiveMessage", [&] { entry_.receiveMessage(from, message, nullptr); });
}

// ---------------------------------------------------------------- frames

void HostState::runFrames(std::int64_t count) {
    for (std::int64_t i = 0; i < count && !hostInterruptRequested(); ++i) runOneFrame();
}

void HostState::pace() {
    using clock = std::chrono::steady_clock;
    const auto now = clock::now();
    if (!pacingStarted_) {
        pacingStarted_ = true;
        paceBase_ = now;
        paceBaseFrame_ = frame_;
        return;
    }
    const auto slot = paceBase_ + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(
                                      static_cast<double>(frame_ - paceBaseFrame_) / options_.fps));
    if (now > slot + std::chrono::milliseconds(250)) {
        // Far behind (a slow frame, or a pause between script commands): start a new base
        // rather than running a burst of frames to catch up, as a simulator drops frames.
        paceBase_ = now;
        paceBaseFrame_ = frame_;
        return;
    }
    if (now < slot) {
        HostLock::Released released(lock_);
        os::sleepUntil(slot);
    }
}

void HostState::runOneFrame() {
    if (options_.paced) pace();
    ++frame_;
    // X-Plane asks the window under a resting pointer for its cursor every frame.
    if (pointerOn_) askCursor(pointerX_, pointerY_);
    runFlightLoops();
    {
        // On Windows this runs the module's completion handlers: its code, without the lock.
        HostLock::Released released(lock_);
        pumpPlatformMessages();
    }
    drawWindows();
    if (watch_ != nullptr) checkWatch();
}

void HostState::runFlightLoops() {
    const double now = elapsedTime();
    const float sinceLastFlightLoop = static_cast<float>(now - lastFlightLoopTime_);
    lastFlightLoopTime_ = now;
    ++flightLoopCounter_;
    dispatchingFlightLoops_ = true;
    // Index loop: callbacks may register new loops (appended, first called next frame) or
    // unregister any loop (marked dead, swept below).
    const std::size_t count = flightLoops_.size();
    for (std::size_t i = 0; i < count; ++i) {
        FlightLoopRecord* loop = flightLoops_[i].get();
        if (!loop->alive || loop->interval == 0.0f || !ownerEnabled(loop->owner)) continue;
        const bool due = loop->interval < 0.0f ? frame_ >= loop->dueFrame : now + 1e-9 >= loop->dueTime;
        if (!due) continue;
        const float sinceLastCall = static_cast<float>(now - loop->lastCallTime);
        loop->lastCallTime = now;
        const float next = intoModule(loop->owner, "a flight loop callback", [&] {
            return loop->callback(sinceLastCall, sinceLastFlightLoop, flightLoopCounter_, loop->refcon);
        });
        loop = flightLoops_[i].get();
        if (!loop->alive) continue;
        loop->interval = std::isfinite(next) ? next : 0.0f;
        if (loop->interval < 0.0f) {
            loop->dueFrame = frame_ + std::max<std::int64_t>(1, static_cast<std::int64_t>(-loop->interval));
        } else if (loop->interval > 0.0f) {
            loop->dueTime = now + loop->interval;
        }
    }
    dispatchingFlightLoops_ = false;
    flightLoops_.erase(std::remove_if(flightLoops_.begin(), flightLoops_.end(),
                                      [](const auto& loop) { return !loop->alive; }),
                       flightLoops_.end());
}

void HostState::registerFlightLoop(XPLMFlightLoop_f cb, float interval, void* refcon) {
    if (cb == nullptr) {
        hostLine("XPLMRegisterFlightLoopCallback with a null callback ignored");
        return;
    }
    auto loop = std::make_unique<FlightLoopRecord>();
    loop->callback = cb;
    loop->refcon = refcon;
    loop->owner = currentPlugin_;
    loop->interval = std::isfinite(interval) ? interval : 0.0f;
    loop->lastCallTime = elapsedTime();
    if (loop->interval < 0.0f) {
        loop->dueFrame = frame_ + std::max<std::int64_t>(1, static_cast<std::int64_t>(-loop->interval));
    } else if (loop->interval > 0.0f) {
        loop->dueTime = elapsedTime() + loop->interval;
    }
    flightLoops_.push_back(std::move(loop));
}

void HostState::unregisterFlightLoop(XPLMFlightLoop_f cb, void* refcon) {
    for (auto& loop : flightLoops_) {
        if (loop->alive && loop->callback == cb && loop->refcon == refcon) {
            loop->alive = false;
            break;
        }
    }
    if (!dispatchingFlightLoops_) {
        flightLoops_.erase(std::remove_if(flightLoops_.begin(), flightLoops_.end(),
                                          [](const auto& loop) { return !loop->alive; }),
                           flightLoops_.end());
    }
}

// ---------------------------------------------------------------- commands

XPLMCommandRef HostState::createCommand(const char* name, const char* description) {
    if (name == nullptr || *name == '\0') {
        hostLine("XPLMCreateCommand with no name returns null");
        return nullptr;
    }
    if (XPLMCommandRef existing = findCommand(name)) return existing;
    auto command = std::make_unique<CommandRecord>();
    command->name = name;
    command->description = description != nullptr ? description : "";
    commands_.push_back(std::move(command));
    return commands_.back().get();
}

XPLMCommandRef HostState::findCommand(const std::string& name) {
    for (auto& command : commands_) {
        if (command->name == name) return command.get();
    }
    return nullptr;
}

static CommandRecord* knownCommand(std::vector<std::unique_ptr<CommandRecord>>& commands, XPLMCommandRef ref) {
    for (auto& command : commands) {
        if (command.get() == ref) return command.get();
    }
    return nullptr;
}

void HostState::registerCommandHandler(XPLMCommandRef ref, XPLMCommandCallback_f cb, int before, void* refcon) {
    CommandRecord* command = knownCommand(commands_, ref);
    if (command == nullptr || cb == nullptr) {
        hostLine("XPLMRegisterCommandHandler with an unknown command or a null handler ignored");
        return;
    }
    command->handlers.push_back(CommandHandler{cb, before != 0, refcon, currentPlugin_});
}

void HostState::unregisterCommandHandler(XPLMCommandRef ref, XPLMCommandCallback_f cb, int before, void* refcon) {
    CommandRecord* command = knownCommand(commands_, ref);
    if (command == nullptr) {
        hostLine("XPLMUnregisterCommandHandler with an unknown command ignored");
        return;
    }
    auto& handlers = command->handlers;
    auto it = std::find_if(handlers.begin(), handlers.end(), [&](const CommandHandler& h) {
        return h.callback == cb && h.before == (before != 0) && h.refcon == refcon;
    });
    if (it != handlers.end()) handlers.erase(it);
}

void HostState::runCommand(XPLMCommandRef ref, XPLMCommandPhase phase) {
    CommandRecord* command = knownCommand(commands_, ref);
    if (command == nullptr) return;
    // "Before" handlers run first, then "after" ones; a handler returning 0 ends the chain.
    // The chain is taken up front so handlers may register or unregister during it; one
    // that was unregistered meanwhile is skipped.
    std::vector<CommandHandler> chain;
    for (const auto& h : command->handlers) {
        if (h.before) chain.push_back(h);
    }
    for (const auto& h : command->handlers) {
        if (!h.before) chain.push_back(h);
    }
    for (const auto& h : chain) {
        command = knownCommand(commands_, ref);
        const bool stillRegistered =
            command != nullptr && std::any_of(command->handlers.begin(), command->handlers.end(), [&](const auto& c) {
                return c.callback == h.callback && c.before == h.before && c.refcon == h.refcon;
            });
        if (!stillRegistered || !ownerEnabled(h.owner)) continue;
        const int goOn = intoModule(h.owner, "a command handler", [&] { return h.callback(ref, phase, h.refcon); });
        if (goOn == 0) break;
    }
}

// ---------------------------------------------------------------- menus

XPLMMenuID HostState::createMenu(const char* name, XPLMMenuID parent, int parentItem, XPLMMenuHandler_f handler,
                                 void* menuRef) {
    if (parent != nullptr &&
        std::none_of(menus_.begin(), menus_.end(), [parent](const auto& m) { return m.get() == parent; })) {
        hostLine("XPLMCreateMenu with an unknown parent menu returns null");
        return nullptr;
    }
    auto menu = std::make_unique<MenuRecord>();
    menu->owner = currentPlugin_;
    menu->title = name != nullptr ? name : "";
    menu->parent = parent;
    menu->parentItem = parentItem;
    menu->handler = handler;
    menu->menuRef = menuRef;
    menus_.push_back(std::move(menu));
    return menus_.back().get();
}

int HostState::appendMenuItem(XPLMMenuID id, const char* name, void* itemRef) {
    for (auto& menu : menus_) {
        if (menu.get() == id) {
            menu->items.push_back(MenuItem{name != nullptr ? name : "", itemRef});
            return static_cast<int>(menu->items.size()) - 1;
        }
    }
    hostLine("XPLMAppendMenuItem on an unknown menu ignored");
    return -1;
}

void HostState::destroyMenu(XPLMMenuID id) {
    if (std::none_of(menus_.begin(), menus_.end(), [id](const auto& m) { return m.get() == id; })) {
        hostLine("XPLMDestroyMenu on an unknown menu ignored");
        return;
    }
    // Submenus hang from the menu's items and go with it.
    std::vector<XPLMMenuID> doomed{id};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        for (const auto& menu : menus_) {
            if (menu->parent == doomed[i]) doomed.push_back(menu.get());
        }
    }
    std::erase_if(menus_, [&doomed](const auto& menu) {
        return std::find(doomed.begin(), doomed.end(), menu.get()) != doomed.end();
    });
}

bool HostState::runMenuItem(const std::string& title) {
    bool leftBehind = false;
    for (auto& menu : menus_) {
        for (const auto& item : menu->items) {
            if (item.title != title) continue;
            // Its handler lived in a module that is gone.
            if (menu->owner != kInProcessPluginId && (module_ == nullptr || menu->owner != plugin_.id)) {
                leftBehind = true;
                continue;
            }
            if (menu->handler == nullptr) {
                hostLine("menu item \"" + title + "\" has no handler");
                return true;
            }
            if (!ownerEnabled(menu->owner)) {
                hostLine("menu item \"" + title + "\" belongs to a disabled plugin; nothing runs");
                return true;
            }
            XPLMMenuHandler_f handler = menu->handler;
            void* menuRef = menu->menuRef;
            void* itemRef = item.itemRef;
            intoModule(menu->owner, "a menu handler", [&] { handler(menuRef, itemRef); });
            return true;
        }
    }
    if (leftBehind) hostLine("menu item \"" + title + "\" belongs to a plugin that is no longer loaded; not run");
    return leftBehind;
}

// ---------------------------------------------------------------- datarefs

XPLMDataRef HostState::findDataRef(const char* name) {
    if (name != nullptr && options_.vrDataref && std::strcmp(name, kVrDataRefName) == 0) return &vrDataRef_;
    if (name != nullptr && std::strcmp(name, kUiScaleDataRefName) == 0) return &uiScaleDataRef_;
    if (name != nullptr && std::strcmp(name, kSunPitchDataRefName) == 0) return &sunPitchDataRef_;
    hostLine(std::string("dataref ") + (name != nullptr ? name : "(null)") + " is not published here");
    return nullptr;
}

int HostState::getDatai(XPLMDataRef ref) {
    if (ref == nullptr) return 0;
    if (ref == &vrDataRef_) return vrDataRef_;
    // As X-Plane: read as the wrong type, a dataref reads 0.
    if (ref != &uiScaleDataRef_ && ref != &sunPitchDataRef_) hostLine("XPLMGetDatai with an unknown dataref returns 0");
    return 0;
}

float HostState::getDataf(XPLMDataRef ref) {
    if (ref == nullptr) return 0;
    if (ref == &uiScaleDataRef_) return uiScaleDataRef_;
    if (ref == &sunPitchDataRef_) return sunPitchDataRef_;
    if (ref != &vrDataRef_) hostLine("XPLMGetDataf with an unknown dataref returns 0");
    return 0;
}

void HostState::setVr(bool on) {
    // As X-Plane: the dataref is set before "entered VR" and cleared after "exiting VR", so
    // a plugin handling either message still sees its windows in VR. The mouse and the VR
    // controller are different pointers: neither rests anywhere after the switch.
    pointerOn_ = false;
    if (on) {
        vr_ = true;
        vrDataRef_ = 1;
        sendMessage(XPLM_PLUGIN_XPLANE, XPLM_MSG_ENTERED_VR);
    } else {
        sendMessage(XPLM_PLUGIN_XPLANE, XPLM_MSG_EXITING_VR);
        vr_ = false;
        vrDataRef_ = 0;
    }
}

}  // namespace xpsim
