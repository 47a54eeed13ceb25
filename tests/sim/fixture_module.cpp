// A small plugin module for testing the stand-in host. It registers flight loops, commands, a
// menu and two windows, and writes what it sees to the log as "fixture: ..." lines. On cue it
// breaks the host's rules, so the host's answer to each can be seen.
// XPSIM_FIXTURE_MODE picks a behaviour: "normal" (default), "fail-start" (Start returns 0
// after cleaning up), "leak" (Stop cleans nothing up), "rude" (a third window "C" with null
// key, cursor, wheel and right-click slots) or "naive-gl" (window A uploads a texture
// trusting the GL state it finds).
#include "platform/xplm.h"

#if defined(_WIN32)
#  include <windows.h>
#endif
#include <GL/gl.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Beyond OpenGL 1.1, for reading the state a draw callback is given.
constexpr GLenum kActiveTexture = 0x84E0;
constexpr GLenum kTexture0 = 0x84C0;
constexpr GLenum kTextureBinding2D = 0x8069;
constexpr GLenum kPixelUnpackBufferBinding = 0x88EF;

std::string mode;
XPLMWindowID windowA = nullptr, windowB = nullptr, windowC = nullptr;
XPLMCommandRef command = nullptr, blocked = nullptr, pass = nullptr, probe = nullptr, mess = nullptr,
               threadCall = nullptr, busyStart = nullptr, busyStop = nullptr, recolour = nullptr, focusA = nullptr,
               focusB = nullptr, focusC = nullptr, focusNone = nullptr;
bool passThroughB = false;  // fixture/pass: B hands every event on to the window below
bool probeGl = false;       // fixture/probe-gl: A's next draw reports the GL state it found
bool leaveMess = false;     // fixture/mess: A's draws leave GL in a state nobody expects
bool blueA = false;         // fixture/recolour: A is drawn blue instead of red from its next draw
int textureA = 0;
XPLMMenuID menu = nullptr;

std::thread busyThread;
std::atomic<bool> busyStopRequested{false};

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void say(const char* format, ...) {
    char line[512] = "fixture: ";
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + 9, sizeof line - 10, format, args);
    va_end(args);
    std::strcat(line, "\n");
    XPLMDebugString(line);
}

const char* nameOf(XPLMWindowID window) {
    if (window == nullptr) return "none";
    return window == windowA ? "A" : window == windowB ? "B" : window == windowC ? "C" : "?";
}

// Each flight loop logs its call and asks for the same next interval, except "once" (0).
struct Loop {
    const char* name;
    float first, next;
} loops[] = {{"frames2", -2.0f, -2.0f}, {"half", 0.5f, 0.5f}, {"once", -1.0f, 0.0f}};

float loop(float sinceLastCall, float, int, void* refcon) {
    const auto* self = static_cast<const Loop*>(refcon);
    say("loop %s since=%.3f", self->name, static_cast<double>(sinceLastCall));
    return self->next;
}

float idleLoop(float, float, int, void*) { return 0.0f; }

// One call of each kind from a thread of our own: every one breaks the one-thread rule.
void callFromThread() {
    XPLMDebugString("fixture: hello from a thread\n");
    const float elapsed = XPLMGetElapsedTime();
    const int vr = XPLMGetDatai(XPLMFindDataRef("sim/graphics/VR/enabled"));
    say("thread elapsed=%.3f vr=%d", static_cast<double>(elapsed), vr);
}

// Works the host from a thread while the main thread runs frames, until told to stop.
void busy() {
    int calls = 0;
    while (!busyStopRequested.load()) {
        XPLMGetElapsedTime();
        XPLMRegisterFlightLoopCallback(idleLoop, 0.0f, &calls);
        XPLMUnregisterFlightLoopCallback(idleLoop, &calls);
        XPLMGetWindowIsVisible(windowA);
        calls += 4;
        // A worker does work of its own between calls.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    say("busy thread made %d calls", calls);
}

struct Handler {
    const char* name;
    int result;
} before{"before", 1}, after{"after", 1}, blocker{"blocker", 0}, cue{"cue", 1};

int handle(XPLMCommandRef which, XPLMCommandPhase phase, void* refcon) {
    const auto* self = static_cast<const Handler*>(refcon);
    if (self == &cue) {
        if (phase != xplm_CommandEnd) return 1;
        if (which == pass) passThroughB = !passThroughB;
        if (which == probe) probeGl = true;
        if (which == mess) leaveMess = true;
        if (which == recolour) blueA = !blueA;
        if (which == focusA || which == focusB || which == focusC || which == focusNone) {
            XPLMTakeKeyboardFocus(which == focusA   ? windowA
                                  : which == focusB ? windowB
                                  : which == focusC ? windowC
                                                    : nullptr);
            say("focus A=%d B=%d none=%d", XPLMHasKeyboardFocus(windowA), XPLMHasKeyboardFocus(windowB),
                XPLMHasKeyboardFocus(nullptr));
        }
        if (which == threadCall) std::thread(callFromThread).join();
        if (which == busyStart && !busyThread.joinable()) busyThread = std::thread(busy);
        if (which == busyStop && busyThread.joinable()) {
            busyStopRequested = true;
            busyThread.join();
        }
        return 1;
    }
    say("%s phase=%d", self->name, phase);
    return self->result;
}

void menuHandler(void*, void* item) { say("menu %s", static_cast<const char*>(item)); }

void reportGlState() {
    GLint unpackBuffer = 0, rowLength = 0, skipRows = 0, skipPixels = 0, alignment = 0, unit = 0, texture = 0;
    glGetIntegerv(kPixelUnpackBufferBinding, &unpackBuffer);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
    glGetIntegerv(GL_UNPACK_SKIP_ROWS, &skipRows);
    glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &skipPixels);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glGetIntegerv(kActiveTexture, &unit);
    glGetIntegerv(kTextureBinding2D, &texture);
    const int blend = glIsEnabled(GL_BLEND) == GL_TRUE ? 1 : 0;
    // The host's bind cache must match GL: binding the texture found through it on unit 0 is
    // skipped by the cache, and must leave exactly that texture bound there.
    XPLMBindTexture2d(texture, 0);
    GLint unitAfter = 0, boundAfter = 0;
    glGetIntegerv(kActiveTexture, &unitAfter);
    glGetIntegerv(kTextureBinding2D, &boundAfter);
    // Unit 0's texture environment and matrix, now that it is the active unit.
    GLint environment = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
    GLfloat matrix[16] = {};
    glGetFloatv(GL_TEXTURE_MATRIX, matrix);
    const GLfloat identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    say("gl unpack-buffer=%s row-length=%d skip-rows=%d skip-pixels=%d alignment=%d unit=%d texture=%s blend=%d "
        "unit0-after-bind=%s cull=%d tex-env=%s tex-matrix=%s",
        unpackBuffer != 0 ? "bound" : "none", rowLength, skipRows, skipPixels, alignment,
        static_cast<int>(unit - kTexture0), texture != 0 ? "bound" : "none", blend,
        unitAfter == static_cast<GLint>(kTexture0) && boundAfter == texture ? "same" : "different",
        glIsEnabled(GL_CULL_FACE) == GL_TRUE ? 1 : 0, environment == GL_MODULATE ? "modulate" : "other",
        std::memcmp(matrix, identity, sizeof matrix) == 0 ? "identity" : "moved");
}

void draw(XPLMWindowID window, void*) {
    if (window == windowA && probeGl) {
        probeGl = false;
        reportGlState();
    }
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    if (window == windowA && mode == "naive-gl") {
        // Trusts the state it finds: no unpack buffer, rows back to back. A 2 x 2 red image.
        const unsigned char red[16] = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
        XPLMSetGraphicsState(0, 1, 0, 0, 0, 0, 0);
        XPLMBindTexture2d(textureA, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, red);
        glColor3f(1.0f, 1.0f, 1.0f);
    } else {
        XPLMSetGraphicsState(0, 0, 0, 0, 0, 0, 0);
        // The quads below are wound clockwise: culling would remove them.
        glDisable(GL_CULL_FACE);
        // A red (blue while recoloured), B green.
        if (window == windowA) {
            blueA ? glColor3f(0.0f, 0.0f, 1.0f) : glColor3f(1.0f, 0.0f, 0.0f);
        } else {
            glColor3f(0.0f, 1.0f, 0.0f);
        }
    }
    glBegin(GL_QUADS);
    glTexCoord2i(0, 0);
    glVertex2i(left, bottom);
    glTexCoord2i(0, 1);
    glVertex2i(left, top);
    glTexCoord2i(1, 1);
    glVertex2i(right, top);
    glTexCoord2i(1, 0);
    glVertex2i(right, bottom);
    glEnd();
    if (window == windowA && leaveMess) {
        // What a careless plugin leaves for the host: texturing and additive blending on, a
        // blue colour and a row length for the next upload.
        XPLMSetGraphicsState(0, 1, 0, 0, 1, 0, 0);
        glBlendFunc(GL_ONE, GL_ONE);
        glColor3f(0.0f, 0.0f, 1.0f);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 3);
        glPixelStorei(GL_PACK_ROW_LENGTH, 5);
    }
}

// B hands clicks, wheel turns, right clicks and the cursor on while fixture/pass is on.
int click(XPLMWindowID window, int x, int y, XPLMMouseStatus status, void*) {
    say("click %s %d %d status=%d", nameOf(window), x, y, status);
    return window == windowB && passThroughB ? 0 : 1;
}

int rightClick(XPLMWindowID window, int x, int y, XPLMMouseStatus status, void*) {
    say("rightclick %s %d %d status=%d", nameOf(window), x, y, status);
    return window == windowB && passThroughB ? 0 : 1;
}

int wheel(XPLMWindowID window, int x, int y, int axis, int clicks, void*) {
    say("wheel %s %d %d axis=%d clicks=%d", nameOf(window), x, y, axis, clicks);
    return window == windowB && passThroughB ? 0 : 1;
}

XPLMCursorStatus cursor(XPLMWindowID window, int x, int y, void*) {
    say("cursor %s %d %d", nameOf(window), x, y);
    if (window == windowB) return passThroughB ? xplm_CursorDefault : xplm_CursorHidden;
    return xplm_CursorArrow;
}

void key(XPLMWindowID window, char character, XPLMKeyFlags flags, char virtualKey, void* refcon, int losingFocus) {
    // The window passed is ours for a key, or the one taking the focus away.
    say("key %s char=%d flags=%d vk=%d losing=%d to=%s", static_cast<const char*>(refcon), character, flags,
        virtualKey, losingFocus, nameOf(window));
}

XPLMWindowID makeWindow(const char* name, int left, int top, int right, int bottom, bool everySlot) {
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = left;
    params.top = top;
    params.right = right;
    params.bottom = bottom;
    params.visible = 1;
    params.drawWindowFunc = draw;
    params.handleMouseClickFunc = click;
    if (everySlot) {
        params.handleKeyFunc = key;
        params.handleCursorFunc = cursor;
        params.handleMouseWheelFunc = wheel;
        params.handleRightClickFunc = rightClick;
    }
    params.decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle;
    params.layer = xplm_WindowLayerFloatingWindows;
    params.refcon = const_cast<char*>(name);
    XPLMWindowID window = XPLMCreateWindowEx(&params);
    XPLMSetWindowTitle(window, name);
    return window;
}

XPLMCommandRef cueCommand(const char* name) {
    XPLMCommandRef ref = XPLMCreateCommand(name, "A cue for the fixture");
    XPLMRegisterCommandHandler(ref, handle, 0, &cue);
    return ref;
}

void cleanUp() {
    if (busyThread.joinable()) {
        busyStopRequested = true;
        busyThread.join();
    }
    for (Loop& l : loops) XPLMUnregisterFlightLoopCallback(loop, &l);
    XPLMUnregisterCommandHandler(command, handle, 1, &before);
    XPLMUnregisterCommandHandler(command, handle, 0, &after);
    XPLMUnregisterCommandHandler(blocked, handle, 1, &blocker);
    XPLMUnregisterCommandHandler(blocked, handle, 0, &after);
    for (XPLMCommandRef ref : {pass, probe, mess, threadCall, busyStart, busyStop, recolour, focusA, focusB, focusC,
                                focusNone})
        XPLMUnregisterCommandHandler(ref, handle, 0, &cue);
    XPLMDestroyWindow(windowA);
    XPLMDestroyWindow(windowB);
    if (windowC != nullptr) XPLMDestroyWindow(windowC);
    windowA = windowB = windowC = nullptr;
    XPLMDestroyMenu(menu);
    menu = nullptr;
    if (textureA != 0) {
        const GLuint name = static_cast<GLuint>(textureA);
        glDeleteTextures(1, &name);
        textureA = 0;
    }
}

}  // namespace

PLUGIN_EXPORT int XPluginStart(char* outName, char* outSig, char* outDesc) {
    const char* env = std::getenv("XPSIM_FIXTURE_MODE");
    mode = env != nullptr ? env : "normal";
    std::strcpy(outName, "Fixture");
    std::strcpy(outSig, "xpsim.fixture");
    std::strcpy(outDesc, "Records what the host does.");
    say("start mode=%s gl=%s", mode.c_str(), glGetString(GL_RENDERER) != nullptr ? "current" : "none");

    for (Loop& l : loops) XPLMRegisterFlightLoopCallback(loop, l.first, &l);
    // The after handler is registered first: befores still run ahead of it.
    command = XPLMCreateCommand("fixture/cmd", "A command with a before and an after handler");
    XPLMRegisterCommandHandler(command, handle, 0, &after);
    XPLMRegisterCommandHandler(command, handle, 1, &before);
    blocked = XPLMCreateCommand("fixture/blocked", "A command whose before handler stops the chain");
    XPLMRegisterCommandHandler(blocked, handle, 1, &blocker);
    XPLMRegisterCommandHandler(blocked, handle, 0, &after);
    pass = cueCommand("fixture/pass");
    probe = cueCommand("fixture/probe-gl");
    mess = cueCommand("fixture/mess");
    threadCall = cueCommand("fixture/thread");
    busyStart = cueCommand("fixture/busy-start");
    busyStop = cueCommand("fixture/busy-stop");
    recolour = cueCommand("fixture/recolour");
    focusA = cueCommand("fixture/focus-a");
    focusB = cueCommand("fixture/focus-b");
    focusC = cueCommand("fixture/focus-c");
    focusNone = cueCommand("fixture/focus-none");
    menu = XPLMCreateMenu("Fixture", nullptr, 0, menuHandler, nullptr);
    XPLMAppendMenuItem(menu, "Fixture item", const_cast<char*>("item"), 1);
    XPLMGenerateTextureNumbers(&textureA, 1);
    XPLMBindTexture2d(textureA, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);

    windowA = makeWindow("A", 100, 980, 868, 468, true);
    windowB = makeWindow("B", 500, 700, 900, 300, true);
    if (mode == "rude") windowC = makeWindow("C", 1000, 300, 1200, 100, false);
    if (mode != "fail-start") return 1;
    cleanUp();
    std::strcpy(outDesc, "Failed on purpose.");
    return 0;
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
    if (from != XPLM_PLUGIN_XPLANE || windowA == nullptr) return;
    if (message == XPLM_MSG_ENTERED_VR) XPLMSetWindowPositioningMode(windowA, xplm_WindowVR, -1);
    if (message == XPLM_MSG_EXITING_VR) XPLMSetWindowPositioningMode(windowA, xplm_WindowPositionFree, 0);
    say("message %d in-vr A=%d B=%d", message, XPLMWindowIsInVR(windowA), XPLMWindowIsInVR(windowB));
}
