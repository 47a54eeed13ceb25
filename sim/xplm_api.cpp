// The XPLM functions a module imports, each routed to the host. Nothing may throw into the
// module. A call from a thread other than the simulator's main thread is a fault of the
// caller: it is logged, then carried out under the host lock so that it cannot tear the
// host's state (X-Plane has no such lock, and the same call there may crash the simulator).
#include "host_state.h"

#include "os.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace xpsim {
namespace {

template <typename R, typename F>
R guarded(const char* name, R fallback, F&& body) {
    try {
        HostState& host = currentHostState();
        if (!host.onMainThread()) host.reportOffMainThread(name);
        std::lock_guard<xpsim::HostLock> lock(host.lock());
        return body(host);
    } catch (...) {
        return fallback;
    }
}

template <typename F>
void guardedVoid(const char* name, F&& body) {
    guarded(name, 0, [&](HostState& host) {
        body(host);
        return 0;
    });
}

// The SDK's buffers are 256 bytes; never write past that.
constexpr std::size_t kInfoBufferBytes = 256;

bool copyOut(char* out, const std::string& text) {
    if (out == nullptr) return true;
    const std::size_t n = std::min(text.size(), kInfoBufferBytes - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return n == text.size();
}

// A rectangle into the caller's out-parameters, any of which may be null.
void copyRect(int l, int t, int r, int b, int* outLeft, int* outTop, int* outRight, int* outBottom) {
    if (outLeft != nullptr) *outLeft = l;
    if (outTop != nullptr) *outTop = t;
    if (outRight != nullptr) *outRight = r;
    if (outBottom != nullptr) *outBottom = b;
}

}  // namespace
}  // namespace xpsim

using xpsim::HostState;
using xpsim::guarded;
using xpsim::copyRect;
using xpsim::guardedVoid;

XPLM_API void XPLMDebugString(const char* inString) {
    // The log has a lock of its own, so this never waits for the host; and it never makes a
    // host (that would put a GL context on the calling thread).
    try {
        if (inString == nullptr) return;
        if (HostState* host = xpsim::existingHostState()) {
            if (!host->onMainThread()) host->reportOffMainThread("XPLMDebugString");
            host->writeLog(inString);
        } else {
            std::fputs(inString, stdout);
            std::fflush(stdout);
        }
    } catch (...) {
    }
}

XPLM_API XPLMPluginID XPLMGetMyID(void) {
    return guarded("XPLMGetMyID", XPLM_NO_PLUGIN_ID, [](HostState& host) { return host.currentPlugin(); });
}

XPLM_API void XPLMGetPluginInfo(XPLMPluginID inPlugin, char* outName, char* outFilePath, char* outSignature,
                                char* outDescription) {
    guardedVoid("XPLMGetPluginInfo", [&](HostState& host) {
        bool found = false;
        const xpsim::PluginRecord plugin = host.pluginById(inPlugin, found);
        if (!found) {
            host.hostLine("XPLMGetPluginInfo for unknown plugin id " + std::to_string(inPlugin));
            for (char* out : {outName, outFilePath, outSignature, outDescription}) xpsim::copyOut(out, "");
            return;
        }
        xpsim::copyOut(outName, plugin.name);
        if (!xpsim::copyOut(outFilePath, host.pathForCaller(plugin.path))) {
            host.hostLine("XPLMGetPluginInfo: the module's path is longer than 255 bytes and was cut");
        }
        xpsim::copyOut(outSignature, plugin.signature);
        xpsim::copyOut(outDescription, plugin.description);
    });
}

XPLM_API char* XPLMExtractFileAndPath(char* inFullPath) {
    // Works on the caller's buffer alone, but is an XPLM call all the same.
    if (HostState* host = xpsim::existingHostState(); host != nullptr && !host->onMainThread()) {
        host->reportOffMainThread("XPLMExtractFileAndPath");
    }
    if (inFullPath == nullptr) return nullptr;
    char* cut = std::strrchr(inFullPath, xpsim::os::pathSeparator());
    if (xpsim::os::pathSeparator() != '/') {
        // Windows accepts either separator.
        char* slash = std::strrchr(inFullPath, '/');
        if (slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
    }
    if (cut == nullptr) return inFullPath;
    *cut = '\0';
    return cut + 1;
}

XPLM_API int XPLMHasFeature(const char* inFeature) {
    return guarded("XPLMHasFeature", 0, [&](HostState& host) { return host.hasFeature(inFeature) ? 1 : 0; });
}

XPLM_API void XPLMEnableFeature(const char* inFeature, int inEnable) {
    guardedVoid("XPLMEnableFeature", [&](HostState& host) { host.enableFeature(inFeature, inEnable != 0); });
}

XPLM_API float XPLMGetElapsedTime(void) {
    return guarded("XPLMGetElapsedTime", 0.0f, [](HostState& host) { return static_cast<float>(host.elapsedTime()); });
}

XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void* inRefcon) {
    guardedVoid("XPLMRegisterFlightLoopCallback",
                [&](HostState& host) { host.registerFlightLoop(inFlightLoop, inInterval, inRefcon); });
}

XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon) {
    guardedVoid("XPLMUnregisterFlightLoopCallback",
                [&](HostState& host) { host.unregisterFlightLoop(inFlightLoop, inRefcon); });
}

XPLM_API XPLMCommandRef XPLMCreateCommand(const char* inName, const char* inDescription) {
    return guarded("XPLMCreateCommand", XPLMCommandRef{nullptr},
                   [&](HostState& host) { return host.createCommand(inName, inDescription); });
}

XPLM_API void XPLMRegisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                         void* inRefcon) {
    guardedVoid("XPLMRegisterCommandHandler",
                [&](HostState& host) { host.registerCommandHandler(inComand, inHandler, inBefore, inRefcon); });
}

XPLM_API void XPLMUnregisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                           void* inRefcon) {
    guardedVoid("XPLMUnregisterCommandHandler",
                [&](HostState& host) { host.unregisterCommandHandler(inComand, inHandler, inBefore, inRefcon); });
}

XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void* inMenuRef) {
    return guarded("XPLMCreateMenu", XPLMMenuID{nullptr}, [&](HostState& host) {
        return host.createMenu(inName, inParentMenu, inParentItem, inHandler, inMenuRef);
    });
}

XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef,
                                int /*inDeprecatedAndIgnored*/) {
    return guarded("XPLMAppendMenuItem", -1,
                   [&](HostState& host) { return host.appendMenuItem(inMenu, inItemName, inItemRef); });
}

XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID) {
    guardedVoid("XPLMDestroyMenu", [&](HostState& host) { host.destroyMenu(inMenuID); });
}

XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName) {
    return guarded("XPLMFindDataRef", XPLMDataRef{nullptr},
                   [&](HostState& host) { return host.findDataRef(inDataRefName); });
}

XPLM_API int XPLMGetDatai(XPLMDataRef inDataRef) {
    return guarded("XPLMGetDatai", 0, [&](HostState& host) { return host.getDatai(inDataRef); });
}

XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef) {
    return guarded("XPLMGetDataf", 0.0f, [&](HostState& host) { return host.getDataf(inDataRef); });
}

XPLM_API XPLMWindowID XPLMCreateWindowEx(XPLMCreateWindow_t* inParams) {
    return guarded("XPLMCreateWindowEx", XPLMWindowID{nullptr},
                   [&](HostState& host) { return host.createWindow(inParams); });
}

XPLM_API void XPLMDestroyWindow(XPLMWindowID inWindowID) {
    guardedVoid("XPLMDestroyWindow", [&](HostState& host) { host.destroyWindow(inWindowID); });
}

XPLM_API int XPLMGetWindowIsVisible(XPLMWindowID inWindowID) {
    return guarded("XPLMGetWindowIsVisible", 0, [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMGetWindowIsVisible");
        return w != nullptr && w->visible ? 1 : 0;
    });
}

XPLM_API void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible) {
    guardedVoid("XPLMSetWindowIsVisible", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowIsVisible")) w->visible = inIsVisible != 0;
    });
}

XPLM_API void XPLMGetWindowGeometry(XPLMWindowID inWindowID, int* outLeft, int* outTop, int* outRight, int* outBottom) {
    guardedVoid("XPLMGetWindowGeometry", [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMGetWindowGeometry");
        if (w == nullptr) return;
        int l = 0, t = 0, r = 0, b = 0;
        host.windowGeometry(*w, l, t, r, b);
        copyRect(l, t, r, b, outLeft, outTop, outRight, outBottom);
    });
}

XPLM_API void XPLMSetWindowGeometry(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom) {
    guardedVoid("XPLMSetWindowGeometry", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowGeometry"))
            host.setWindowGeometry(*w, inLeft, inTop, inRight, inBottom);
    });
}

XPLM_API int XPLMWindowIsPoppedOut(XPLMWindowID inWindowID) {
    return guarded("XPLMWindowIsPoppedOut", 0, [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMWindowIsPoppedOut");
        return w != nullptr && w->poppedOut() ? 1 : 0;
    });
}

XPLM_API void XPLMGetWindowGeometryOS(XPLMWindowID inWindowID, int* outLeft, int* outTop, int* outRight,
                                      int* outBottom) {
    guardedVoid("XPLMGetWindowGeometryOS", [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMGetWindowGeometryOS");
        int l = 0, t = 0, r = 0, b = 0;
        if (w != nullptr) host.osGeometry(*w, l, t, r, b, "XPLMGetWindowGeometryOS");
        copyRect(l, t, r, b, outLeft, outTop, outRight, outBottom);
    });
}

XPLM_API void XPLMSetWindowGeometryOS(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom) {
    guardedVoid("XPLMSetWindowGeometryOS", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowGeometryOS"))
            host.setOsGeometry(*w, inLeft, inTop, inRight, inBottom, "XPLMSetWindowGeometryOS");
    });
}

XPLM_API void XPLMGetAllMonitorBoundsOS(XPLMReceiveMonitorBoundsOS_f inMonitorBoundsCallback, void* inRefcon) {
    guardedVoid("XPLMGetAllMonitorBoundsOS", [&](HostState& host) {
        if (inMonitorBoundsCallback == nullptr) return host.hostLine("XPLMGetAllMonitorBoundsOS without a callback");
        int l = 0, t = 0, r = 0, b = 0;
        host.monitorBoundsOs(l, t, r, b);
        host.intoModule(host.currentPlugin(), "a monitor bounds callback",
                        [&] { inMonitorBoundsCallback(0, l, t, r, b, inRefcon); });
    });
}

XPLM_API void XPLMGetAllMonitorBoundsGlobal(XPLMReceiveMonitorBoundsGlobal_f inMonitorBoundsCallback, void* inRefcon) {
    guardedVoid("XPLMGetAllMonitorBoundsGlobal", [&](HostState& host) {
        if (inMonitorBoundsCallback == nullptr)
            return host.hostLine("XPLMGetAllMonitorBoundsGlobal without a callback");
        // X-Plane runs full screen on its one monitor: the global desktop.
        int l = 0, t = 0, r = 0, b = 0;
        host.screenBounds(l, t, r, b);
        host.intoModule(host.currentPlugin(), "a monitor bounds callback",
                        [&] { inMonitorBoundsCallback(0, l, t, r, b, inRefcon); });
    });
}

XPLM_API void XPLMGetScreenBoundsGlobal(int* outLeft, int* outTop, int* outRight, int* outBottom) {
    guardedVoid("XPLMGetScreenBoundsGlobal", [&](HostState& host) {
        int l = 0, t = 0, r = 0, b = 0;
        host.screenBounds(l, t, r, b);
        copyRect(l, t, r, b, outLeft, outTop, outRight, outBottom);
    });
}

XPLM_API void XPLMSetWindowPositioningMode(XPLMWindowID inWindowID, XPLMWindowPositioningMode inPositioningMode,
                                           int inMonitorIndex) {
    guardedVoid("XPLMSetWindowPositioningMode", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowPositioningMode")) {
            host.setPositioningMode(*w, inPositioningMode, inMonitorIndex);
        }
    });
}

XPLM_API void XPLMSetWindowGravity(XPLMWindowID inWindowID, float inLeftGravity, float inTopGravity,
                                   float inRightGravity, float inBottomGravity) {
    guardedVoid("XPLMSetWindowGravity", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowGravity")) {
            w->gravity = {inLeftGravity, inTopGravity, inRightGravity, inBottomGravity};
        }
    });
}

XPLM_API void XPLMSetWindowTitle(XPLMWindowID inWindowID, const char* inWindowTitle) {
    guardedVoid("XPLMSetWindowTitle", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMSetWindowTitle")) {
            w->title = inWindowTitle != nullptr ? inWindowTitle : "";
        }
    });
}

XPLM_API int XPLMWindowIsInVR(XPLMWindowID inWindowID) {
    return guarded("XPLMWindowIsInVR", 0, [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMWindowIsInVR");
        return w != nullptr && host.windowInVr(*w) ? 1 : 0;
    });
}

XPLM_API int XPLMIsWindowInFront(XPLMWindowID inWindowID) {
    return guarded("XPLMIsWindowInFront", 0, [&](HostState& host) {
        xpsim::WindowRecord* w = host.window(inWindowID, "XPLMIsWindowInFront");
        return w != nullptr && host.windowInFront(*w) ? 1 : 0;
    });
}

XPLM_API void XPLMBringWindowToFront(XPLMWindowID inWindowID) {
    guardedVoid("XPLMBringWindowToFront", [&](HostState& host) {
        if (xpsim::WindowRecord* w = host.window(inWindowID, "XPLMBringWindowToFront")) host.bringToFront(*w);
    });
}

XPLM_API void XPLMTakeKeyboardFocus(XPLMWindowID inWindow) {
    guardedVoid("XPLMTakeKeyboardFocus", [&](HostState& host) { host.takeKeyboardFocus(inWindow); });
}

XPLM_API int XPLMHasKeyboardFocus(XPLMWindowID inWindow) {
    return guarded("XPLMHasKeyboardFocus", 0, [&](HostState& host) { return host.hasKeyboardFocus(inWindow) ? 1 : 0; });
}

XPLM_API void XPLMGenerateTextureNumbers(int* outTextureIDs, int inCount) {
    guardedVoid("XPLMGenerateTextureNumbers", [&](HostState& host) { host.generateTextures(outTextureIDs, inCount); });
}

XPLM_API void XPLMBindTexture2d(int inTextureNum, int inTextureUnit) {
    guardedVoid("XPLMBindTexture2d", [&](HostState& host) { host.bindTexture(inTextureNum, inTextureUnit); });
}

XPLM_API void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting,
                                   int inEnableAlphaTesting, int inEnableAlphaBlending, int inEnableDepthTesting,
                                   int inEnableDepthWriting) {
    guardedVoid("XPLMSetGraphicsState", [&](HostState& host) {
        host.setGraphicsState(inEnableFog, inNumberTexUnits, inEnableLighting, inEnableAlphaTesting,
                              inEnableAlphaBlending, inEnableDepthTesting, inEnableDepthWriting);
    });
}
