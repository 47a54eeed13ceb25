// A small plugin module for testing the stand-in host. It registers flight loops, commands,
// windows, a menu and a texture, and writes what it sees to the log as "fixture: ..." lines.
// XPSIM_FIXTURE_MODE picks a behaviour: "normal" (default), "fail-start" (Start returns 0
// after cleaning up), "fail-start-leaky" (Start returns 0 and leaves its things behind),
// "leak" (Stop cleans nothing up), "long-name" (writes a name longer than the SDK allows).
#include "platform/xplm.h"

#include <GL/gl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string mode;
XPLMWindowID windowA = nullptr;
XPLMWindowID windowB = nullptr;
XPLMCommandRef command = nullptr;
XPLMDataRef vrRef = nullptr;
int texture = 0;
bool blockInBefore = false;
bool glReported = false;

int framesTwoCalls = 0, secondsCalls = 0, onceCalls = 0, selfRemoveCalls = 0;
float lastSecondsSince = 0.0f;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    char line[512] = "fixture: ";
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + 9, sizeof line - 10, format, args);
    va_end(args);
    std::strcat(line, "\n");
    XPLMDebugString(line);
}

float everyTwoFrames(float, float, int, void*) {
    ++framesTwoCalls;
    return -2.0f;
}

float everyHalfSecond(float sinceLastCall, float, int, void*) {
    ++secondsCalls;
    lastSecondsSince = sinceLastCall;
    return 0.5f;
}

float once(float, float, int, void*) {
    ++onceCalls;
    return 0.0f;
}

float removesItself(float, float, int, void*);
float removesItself(float, float, int, void*) {
    if (++selfRemoveCalls == 3) XPLMUnregisterFlightLoopCallback(removesItself, nullptr);
    return -1.0f;
}

int beforeHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    say("command before phase=%d", phase);
    return blockInBefore ? 0 : 1;
}

int afterHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    say("command after phase=%d", phase);
    return 1;
}

void drawSolid(XPLMWindowID window, float r, float g, float b) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    XPLMSetGraphicsState(0, 0, 0, 0, 0, 0, 0);
    glColor3f(r, g, b);
    glBegin(GL_QUADS);
    glVertex2i(left, bottom);
    glVertex2i(left, top);
    glVertex2i(right, top);
    glVertex2i(right, bottom);
    glEnd();
}

void drawA(XPLMWindowID window, void*) {
    if (!glReported) {
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        say("gl renderer=%s", renderer != nullptr ? renderer : "(none)");
        glReported = true;
    }
    drawSolid(window, 1.0f, 0.0f, 0.0f);
}

bool misuseGl = false;

void drawB(XPLMWindowID window, void*) {
    drawSolid(window, 0.0f, 1.0f, 0.0f);
    if (misuseGl) glEnable(0x1234);  // not a capability: GL_INVALID_ENUM
}

const char* titleOf(XPLMWindowID window) {
    return window == windowA ? "A" : window == windowB ? "B" : "?";
}

int click(XPLMWindowID window, int x, int y, XPLMMouseStatus status, void*) {
    say("click %s %d %d status=%d infront=%d", titleOf(window), x, y, status, XPLMIsWindowInFront(window));
    return 1;
}

int wheel(XPLMWindowID window, int x, int y, int axis, int clicks, void*) {
    say("wheel %s %d %d axis=%d clicks=%d", titleOf(window), x, y, axis, clicks);
    return 1;
}

void menuHandler(void* menuRef, void* itemRef) {
    say("menu menuref=%d item=%d", static_cast<int>(reinterpret_cast<std::intptr_t>(menuRef)),
        static_cast<int>(reinterpret_cast<std::intptr_t>(itemRef)));
}

int reportHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    if (phase == xplm_CommandBegin) {
        say("report frames2=%d seconds=%d once=%d selfremove=%d lastsince=%.3f elapsed=%.4f myid=%d", framesTwoCalls,
            secondsCalls, onceCalls, selfRemoveCalls, static_cast<double>(lastSecondsSince),
            static_cast<double>(XPLMGetElapsedTime()), XPLMGetMyID());
    }
    return 1;
}

int blockHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    if (phase == xplm_CommandBegin) blockInBefore = !blockInBefore;
    return 1;
}

int frontHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    if (phase == xplm_CommandBegin) XPLMBringWindowToFront(windowA);
    return 1;
}

int showHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    if (phase == xplm_CommandBegin) {
        say("show: A visible was %d", XPLMGetWindowIsVisible(windowA));
        XPLMSetWindowIsVisible(windowA, 1);
    }
    return 1;
}

int misuseGlHandler(XPLMCommandRef, XPLMCommandPhase phase, void*) {
    if (phase == xplm_CommandBegin) misuseGl = true;
    return 1;
}

XPLMCommandRef reportCommand = nullptr, blockCommand = nullptr, frontCommand = nullptr, showCommand = nullptr,
               misuseGlCommand = nullptr;

XPLMWindowID makeWindow(int left, int top, int right, int bottom, XPLMDrawWindow_f draw) {
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = left;
    params.top = top;
    params.right = right;
    params.bottom = bottom;
    params.visible = 1;
    params.drawWindowFunc = draw;
    params.handleMouseClickFunc = click;
    params.handleMouseWheelFunc = wheel;
    params.decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle;
    params.layer = xplm_WindowLayerFloatingWindows;
    return XPLMCreateWindowEx(&params);
}

void cleanUp() {
    XPLMUnregisterFlightLoopCallback(everyTwoFrames, nullptr);
    XPLMUnregisterFlightLoopCallback(everyHalfSecond, nullptr);
    XPLMUnregisterFlightLoopCallback(once, nullptr);
    XPLMUnregisterFlightLoopCallback(removesItself, nullptr);
    XPLMUnregisterCommandHandler(command, beforeHandler, 1, nullptr);
    XPLMUnregisterCommandHandler(command, afterHandler, 0, nullptr);
    XPLMUnregisterCommandHandler(reportCommand, reportHandler, 1, nullptr);
    XPLMUnregisterCommandHandler(blockCommand, blockHandler, 1, nullptr);
    XPLMUnregisterCommandHandler(frontCommand, frontHandler, 1, nullptr);
    XPLMUnregisterCommandHandler(showCommand, showHandler, 1, nullptr);
    XPLMUnregisterCommandHandler(misuseGlCommand, misuseGlHandler, 1, nullptr);
    if (windowA != nullptr) XPLMDestroyWindow(windowA);
    if (windowB != nullptr) XPLMDestroyWindow(windowB);
    windowA = windowB = nullptr;
    if (texture != 0) {
        const GLuint name = static_cast<GLuint>(texture);
        glDeleteTextures(1, &name);
        texture = 0;
    }
}

}  // namespace

PLUGIN_EXPORT int XPluginStart(char* outName, char* outSig, char* outDesc) {
    const char* env = std::getenv("XPSIM_FIXTURE_MODE");
    mode = env != nullptr ? env : "normal";
    std::strcpy(outName, "Fixture");
    if (mode == "long-name") {  // overruns the 256 bytes the SDK promises
        std::memset(outName, 'x', 300);
        outName[300] = '\0';
    }
    std::strcpy(outSig, "xpsim.fixture");
    std::strcpy(outDesc, "Records what the host does.");
    framesTwoCalls = secondsCalls = onceCalls = selfRemoveCalls = 0;
    blockInBefore = glReported = misuseGl = false;
    say("start mode=%s", mode.c_str());

    char path[1024] = {}, name[256] = {}, sig[256] = {}, desc[256] = {};
    XPLMGetPluginInfo(XPLMGetMyID(), name, path, sig, desc);
    say("info name=%s sig=%s path=%s", name, sig, path);
    char* file = XPLMExtractFileAndPath(path);
    say("split dir=%s file=%s", path, file);

    vrRef = XPLMFindDataRef("sim/graphics/VR/enabled");
    say("vr dataref=%s value=%d", vrRef != nullptr ? "found" : "missing", XPLMGetDatai(vrRef));

    XPLMRegisterFlightLoopCallback(everyTwoFrames, -2.0f, nullptr);
    XPLMRegisterFlightLoopCallback(everyHalfSecond, 0.5f, nullptr);
    XPLMRegisterFlightLoopCallback(once, -1.0f, nullptr);
    XPLMRegisterFlightLoopCallback(removesItself, -1.0f, nullptr);

    command = XPLMCreateCommand("fixture/cmd", "A command with a before and an after handler");
    XPLMRegisterCommandHandler(command, afterHandler, 0, nullptr);
    XPLMRegisterCommandHandler(command, beforeHandler, 1, nullptr);
    reportCommand = XPLMCreateCommand("fixture/report", "Logs the flight-loop counts");
    XPLMRegisterCommandHandler(reportCommand, reportHandler, 1, nullptr);
    blockCommand = XPLMCreateCommand("fixture/block", "Makes the before handler stop the chain");
    XPLMRegisterCommandHandler(blockCommand, blockHandler, 1, nullptr);
    frontCommand = XPLMCreateCommand("fixture/front", "Brings window A to the front");
    XPLMRegisterCommandHandler(frontCommand, frontHandler, 1, nullptr);
    showCommand = XPLMCreateCommand("fixture/show", "Shows window A");
    XPLMRegisterCommandHandler(showCommand, showHandler, 1, nullptr);
    misuseGlCommand = XPLMCreateCommand("fixture/misuse-gl", "Makes window B's draw leave a GL error");
    XPLMRegisterCommandHandler(misuseGlCommand, misuseGlHandler, 1, nullptr);

    XPLMGenerateTextureNumbers(&texture, 1);
    XPLMBindTexture2d(texture, 0);
    const unsigned char texel[4] = {1, 2, 3, 4};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);

    windowA = makeWindow(100, 980, 868, 468, drawA);
    XPLMSetWindowTitle(windowA, "fixture A");
    XPLMSetWindowGravity(windowA, 0.0f, 1.0f, 0.0f, 1.0f);
    windowB = makeWindow(500, 700, 900, 300, drawB);
    XPLMSetWindowTitle(windowB, "fixture B");

    XPLMMenuID menu = XPLMCreateMenu("Fixture Menu", nullptr, 0, menuHandler, reinterpret_cast<void*>(7));
    XPLMAppendMenuItem(menu, "Item One", reinterpret_cast<void*>(1), 0);
    XPLMAppendMenuItem(menu, "Item Two", reinterpret_cast<void*>(2), 0);

    if (mode == "fail-start") {
        cleanUp();
        return 0;
    }
    return mode == "fail-start-leaky" ? 0 : 1;
}

PLUGIN_EXPORT int XPluginEnable(void) {
    say("enable");
    return 1;
}

PLUGIN_EXPORT void XPluginDisable(void) {
    say("disable");
}

PLUGIN_EXPORT void XPluginStop(void) {
    say("stop");
    if (mode != "leak") cleanUp();
}

PLUGIN_EXPORT void XPluginReceiveMessage(XPLMPluginID from, int message, void*) {
    say("message from=%d msg=%d invr=%d vrvalue=%d", from, message, windowA ? XPLMWindowIsInVR(windowA) : -1,
        XPLMGetDatai(vrRef));
    if (from != XPLM_PLUGIN_XPLANE || windowA == nullptr) return;
    if (message == XPLM_MSG_ENTERED_VR) XPLMSetWindowPositioningMode(windowA, xplm_WindowVR, -1);
    if (message == XPLM_MSG_EXITING_VR) XPLMSetWindowPositioningMode(windowA, xplm_WindowPositionFree, 0);
}
