// Our own declarations of the X-Plane plugin SDK calls this plugin makes (XPLM, 64-bit,
// window API version 3). Only what we call is declared; the layouts and values are the
// SDK's and must not drift, since a wrong one crashes the simulator.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#    define XPLM_API extern "C" __declspec(dllimport)
#    define PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#    define XPLM_API extern "C" __attribute__((visibility("default")))
#    define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The stand-in host defines these functions itself and builds with XPLM_HOST_BUILD, which
// turns the import into an export on Windows.
#if defined(XPLM_HOST_BUILD)
#    undef XPLM_API
#    if defined(_WIN32)
#        define XPLM_API extern "C" __declspec(dllexport)
#    else
#        define XPLM_API extern "C" __attribute__((visibility("default")))
#    endif
#endif

using XPLMPluginID = int;
using XPLMWindowID = void*;
using XPLMCommandRef = void*;
using XPLMMenuID = void*;
using XPLMDataRef = void*;

constexpr XPLMPluginID XPLM_NO_PLUGIN_ID = -1;
constexpr XPLMPluginID XPLM_PLUGIN_XPLANE = 0;

constexpr int XPLM_MSG_ENTERED_VR = 109;
constexpr int XPLM_MSG_EXITING_VR = 110;

using XPLMCommandPhase = int;
enum : int { xplm_CommandBegin = 0, xplm_CommandContinue = 1, xplm_CommandEnd = 2 };

using XPLMMouseStatus = int;
enum : int { xplm_MouseDown = 1, xplm_MouseDrag = 2, xplm_MouseUp = 3 };

using XPLMCursorStatus = int;
enum : int { xplm_CursorDefault = 0, xplm_CursorHidden = 1, xplm_CursorArrow = 2, xplm_CursorCustom = 3 };

// Virtual-key codes are X-Plane's own (XPLMDefs.h), not Windows'; the key callback passes
// them as a signed char, so compare them as unsigned.
enum : unsigned char {
    XPLM_VK_BACK = 0x08,
    XPLM_VK_TAB = 0x09,
    XPLM_VK_RETURN = 0x0D,
    XPLM_VK_ESCAPE = 0x1B,
    XPLM_VK_PRIOR = 0x21,
    XPLM_VK_NEXT = 0x22,
    XPLM_VK_END = 0x23,
    XPLM_VK_HOME = 0x24,
    XPLM_VK_LEFT = 0x25,
    XPLM_VK_UP = 0x26,
    XPLM_VK_RIGHT = 0x27,
    XPLM_VK_DOWN = 0x28,
    XPLM_VK_DELETE = 0x2E,
    XPLM_VK_ENTER = 0xBB,
    XPLM_VK_NUMPAD_ENT = 0xBC
};

using XPLMKeyFlags = int;
enum : int { xplm_ShiftFlag = 1, xplm_OptionAltFlag = 2, xplm_ControlFlag = 4, xplm_DownFlag = 8, xplm_UpFlag = 16 };

using XPLMWindowPositioningMode = int;
enum : int {
    xplm_WindowPositionFree = 0,
    xplm_WindowCenterOnMonitor = 1,
    xplm_WindowFullScreenOnMonitor = 2,
    xplm_WindowFullScreenOnAllMonitors = 3,
    xplm_WindowPopOut = 4,
    xplm_WindowVR = 5
};

using XPLMWindowDecoration = int;
enum : int {
    xplm_WindowDecorationNone = 0,
    xplm_WindowDecorationRoundRectangle = 1,
    xplm_WindowDecorationSelfDecorated = 2,
    xplm_WindowDecorationSelfDecoratedResizable = 3
};

using XPLMWindowLayer = int;
enum : int {
    xplm_WindowLayerFlightOverlay = 0,
    xplm_WindowLayerFloatingWindows = 1,
    xplm_WindowLayerModal = 2,
    xplm_WindowLayerGrowlNotifications = 3
};

extern "C" {
using XPLMFlightLoop_f = float (*)(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                                   void* inRefcon);
using XPLMCommandCallback_f = int (*)(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void* inRefcon);
using XPLMMenuHandler_f = void (*)(void* inMenuRef, void* inItemRef);
using XPLMDrawWindow_f = void (*)(XPLMWindowID inWindowID, void* inRefcon);
using XPLMHandleMouseClick_f = int (*)(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);
using XPLMHandleKey_f = void (*)(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey,
                                 void* inRefcon, int losingFocus);
using XPLMHandleCursor_f = XPLMCursorStatus (*)(XPLMWindowID inWindowID, int x, int y, void* inRefcon);
using XPLMHandleMouseWheel_f = int (*)(XPLMWindowID inWindowID, int x, int y, int wheel, int clicks, void* inRefcon);
// One monitor's bounds: in the operating system's pixels, or in global desktop boxels.
using XPLMReceiveMonitorBoundsOS_f = void (*)(int inMonitorIndex, int inLeftPx, int inTopPx, int inRightPx,
                                              int inBottomPx, void* inRefcon);
using XPLMReceiveMonitorBoundsGlobal_f = void (*)(int inMonitorIndex, int inLeftBx, int inTopBx, int inRightBx,
                                                  int inBottomBx, void* inRefcon);
}

struct XPLMCreateWindow_t {
    int structSize;
    int left;
    int top;
    int right;
    int bottom;
    int visible;
    XPLMDrawWindow_f drawWindowFunc;
    XPLMHandleMouseClick_f handleMouseClickFunc;
    XPLMHandleKey_f handleKeyFunc;
    XPLMHandleCursor_f handleCursorFunc;
    XPLMHandleMouseWheel_f handleMouseWheelFunc;
    void* refcon;
    XPLMWindowDecoration decorateAsFloatingWindow;
    XPLMWindowLayer layer;
    XPLMHandleMouseClick_f handleRightClickFunc;
};

static_assert(sizeof(void*) == 8, "the plugin is a 64-bit module");
static_assert(sizeof(XPLMCreateWindow_t) == 88);
static_assert(offsetof(XPLMCreateWindow_t, drawWindowFunc) == 24);
static_assert(offsetof(XPLMCreateWindow_t, handleMouseWheelFunc) == 56);
static_assert(offsetof(XPLMCreateWindow_t, refcon) == 64);
static_assert(offsetof(XPLMCreateWindow_t, decorateAsFloatingWindow) == 72);
static_assert(offsetof(XPLMCreateWindow_t, layer) == 76);
static_assert(offsetof(XPLMCreateWindow_t, handleRightClickFunc) == 80);

XPLM_API void XPLMDebugString(const char* inString);
XPLM_API XPLMPluginID XPLMGetMyID(void);
XPLM_API void XPLMGetPluginInfo(XPLMPluginID inPlugin, char* outName, char* outFilePath, char* outSignature,
                                char* outDescription);
XPLM_API char* XPLMExtractFileAndPath(char* inFullPath);
XPLM_API int XPLMHasFeature(const char* inFeature);
XPLM_API void XPLMEnableFeature(const char* inFeature, int inEnable);
XPLM_API float XPLMGetElapsedTime(void);
XPLM_API void XPLMRegisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, float inInterval, void* inRefcon);
XPLM_API void XPLMUnregisterFlightLoopCallback(XPLMFlightLoop_f inFlightLoop, void* inRefcon);
XPLM_API XPLMCommandRef XPLMCreateCommand(const char* inName, const char* inDescription);
XPLM_API void XPLMRegisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                         void* inRefcon);
XPLM_API void XPLMUnregisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                           void* inRefcon);
XPLM_API XPLMMenuID XPLMCreateMenu(const char* inName, XPLMMenuID inParentMenu, int inParentItem,
                                   XPLMMenuHandler_f inHandler, void* inMenuRef);
XPLM_API int XPLMAppendMenuItem(XPLMMenuID inMenu, const char* inItemName, void* inItemRef, int inDeprecatedAndIgnored);
XPLM_API void XPLMDestroyMenu(XPLMMenuID inMenuID);
XPLM_API XPLMDataRef XPLMFindDataRef(const char* inDataRefName);
XPLM_API int XPLMGetDatai(XPLMDataRef inDataRef);
XPLM_API float XPLMGetDataf(XPLMDataRef inDataRef);
XPLM_API XPLMWindowID XPLMCreateWindowEx(XPLMCreateWindow_t* inParams);
XPLM_API void XPLMDestroyWindow(XPLMWindowID inWindowID);
XPLM_API int XPLMGetWindowIsVisible(XPLMWindowID inWindowID);
XPLM_API void XPLMSetWindowIsVisible(XPLMWindowID inWindowID, int inIsVisible);
XPLM_API void XPLMGetWindowGeometry(XPLMWindowID inWindowID, int* outLeft, int* outTop, int* outRight, int* outBottom);
XPLM_API void XPLMSetWindowGeometry(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom);
XPLM_API int XPLMWindowIsPoppedOut(XPLMWindowID inWindowID);
XPLM_API void XPLMGetWindowGeometryOS(XPLMWindowID inWindowID, int* outLeft, int* outTop, int* outRight,
                                      int* outBottom);
XPLM_API void XPLMSetWindowGeometryOS(XPLMWindowID inWindowID, int inLeft, int inTop, int inRight, int inBottom);
XPLM_API void XPLMGetScreenBoundsGlobal(int* outLeft, int* outTop, int* outRight, int* outBottom);
XPLM_API void XPLMGetAllMonitorBoundsOS(XPLMReceiveMonitorBoundsOS_f inMonitorBoundsCallback, void* inRefcon);
XPLM_API void XPLMGetAllMonitorBoundsGlobal(XPLMReceiveMonitorBoundsGlobal_f inMonitorBoundsCallback, void* inRefcon);
XPLM_API void XPLMSetWindowPositioningMode(XPLMWindowID inWindowID, XPLMWindowPositioningMode inPositioningMode,
                                           int inMonitorIndex);
XPLM_API void XPLMSetWindowGravity(XPLMWindowID inWindowID, float inLeftGravity, float inTopGravity,
                                   float inRightGravity, float inBottomGravity);
XPLM_API void XPLMSetWindowTitle(XPLMWindowID inWindowID, const char* inWindowTitle);
XPLM_API int XPLMWindowIsInVR(XPLMWindowID inWindowID);
XPLM_API int XPLMIsWindowInFront(XPLMWindowID inWindowID);
XPLM_API void XPLMBringWindowToFront(XPLMWindowID inWindowID);
XPLM_API void XPLMTakeKeyboardFocus(XPLMWindowID inWindow);
XPLM_API int XPLMHasKeyboardFocus(XPLMWindowID inWindow);
XPLM_API void XPLMGenerateTextureNumbers(int* outTextureIDs, int inCount);
XPLM_API void XPLMBindTexture2d(int inTextureNum, int inTextureUnit);
XPLM_API void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting,
                                   int inEnableAlphaTesting, int inEnableAlphaBlending, int inEnableDepthTesting,
                                   int inEnableDepthWriting);
