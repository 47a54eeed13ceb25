// A small plugin module for testing the stand-in host: what only a plugin that breaks the
// host's rules can show. It registers a flight loop, a command, a menu and a window "A", and
// writes what it sees to the log as "fixture: ..." lines; on cue (fixture/thread) it calls XPLM
// from a thread of its own. XPSIM_FIXTURE_MODE picks a behaviour: "normal" (default), "leak"
// (Stop cleans nothing up), "rude" (a second window "C" with null key, cursor, wheel and
// right-click slots) or "naive-gl" (window A uploads a texture trusting the GL state it finds).
#include "platform/xplm.h"

#if defined(_WIN32)
#    include <windows.h>
#endif
#include <GL/gl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string mode;
XPLMWindowID windowA = nullptr, windowC = nullptr;
XPLMCommandRef command = nullptr, threadCall = nullptr, focusC = nullptr;
int textureA = 0;
XPLMMenuID menu = nullptr;

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

float loop(float, float, int, void*) { return -1.0f; }

// One call of each kind from a thread of our own: every one breaks the one-thread rule.
void callFromThread() {
    const float elapsed = XPLMGetElapsedTime();
    const int vr = XPLMGetDatai(XPLMFindDataRef("sim/graphics/VR/enabled"));
    say("thread elapsed=%.3f vr=%d", static_cast<double>(elapsed), vr);
}

int handle(XPLMCommandRef which, XPLMCommandPhase phase, void*) {
    if (phase != xplm_CommandEnd) return 1;
    if (which == command) say("command");
    if (which == focusC) XPLMTakeKeyboardFocus(windowC);
    if (which == threadCall) std::thread(callFromThread).join();
    return 1;
}

void draw(XPLMWindowID window, void*) {
    // Only "naive-gl" draws: it trusts the state it finds (no unpack buffer, rows back to back)
    // to upload a 2 x 2 red image.
    if (window != windowA || mode != "naive-gl") return;
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    const unsigned char red[16] = {255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255};
    XPLMSetGraphicsState(0, 1, 0, 0, 0, 0, 0);
    XPLMBindTexture2d(textureA, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, red);
    glColor3f(1.0f, 1.0f, 1.0f);
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
}

int click(XPLMWindowID window, int x, int y, XPLMMouseStatus status, void*) {
    say("click %s %d %d status=%d", window == windowC ? "C" : "A", x, y, status);
    return 1;
}
int rightClick(XPLMWindowID, int, int, XPLMMouseStatus, void*) { return 1; }
int wheel(XPLMWindowID, int, int, int, int, void*) { return 1; }
XPLMCursorStatus cursor(XPLMWindowID, int, int, void*) { return xplm_CursorArrow; }
void key(XPLMWindowID, char, XPLMKeyFlags, char, void*, int) {}

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
    XPLMWindowID window = XPLMCreateWindowEx(&params);
    XPLMSetWindowTitle(window, name);
    return window;
}

XPLMCommandRef cueCommand(const char* name) {
    XPLMCommandRef ref = XPLMCreateCommand(name, "A cue for the fixture");
    XPLMRegisterCommandHandler(ref, handle, 0, nullptr);
    return ref;
}

void cleanUp() {
    XPLMUnregisterFlightLoopCallback(loop, nullptr);
    for (XPLMCommandRef ref : {command, threadCall, focusC}) XPLMUnregisterCommandHandler(ref, handle, 0, nullptr);
    XPLMDestroyWindow(windowA);
    if (windowC != nullptr) XPLMDestroyWindow(windowC);
    windowA = windowC = nullptr;
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
    say("start mode=%s", mode.c_str());

    XPLMRegisterFlightLoopCallback(loop, -1.0f, nullptr);
    command = cueCommand("fixture/cmd");
    threadCall = cueCommand("fixture/thread");
    focusC = cueCommand("fixture/focus-c");
    menu = XPLMCreateMenu(
        "Fixture", nullptr, 0, [](void*, void*) {}, nullptr);
    XPLMAppendMenuItem(menu, "Fixture item", const_cast<char*>("item"), 1);
    XPLMGenerateTextureNumbers(&textureA, 1);
    XPLMBindTexture2d(textureA, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);

    windowA = makeWindow("A", 100, 980, 868, 468, true);
    if (mode == "rude") windowC = makeWindow("C", 1000, 300, 1200, 100, false);
    return 1;
}

PLUGIN_EXPORT int XPluginEnable(void) { return 1; }
PLUGIN_EXPORT void XPluginDisable(void) {}

PLUGIN_EXPORT void XPluginStop(void) {
    say("stop");
    if (mode != "leak") cleanUp();
}

PLUGIN_EXPORT void XPluginReceiveMessage(XPLMPluginID, int, void*) {}
