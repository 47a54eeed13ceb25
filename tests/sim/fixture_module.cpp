// A small plugin module for testing the stand-in host. It registers flight loops, commands, a
// menu and two windows, and writes what it sees to the log as "fixture: ..." lines.
// XPSIM_FIXTURE_MODE picks a behaviour: "normal" (default), "fail-start" (Start returns 0
// after cleaning up) or "leak" (Stop cleans nothing up).
#include "platform/xplm.h"

#include <GL/gl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string mode;
XPLMWindowID windowA = nullptr, windowB = nullptr;
XPLMCommandRef command = nullptr, blocked = nullptr;
XPLMMenuID menu = nullptr;

__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    char line[512] = "fixture: ";
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + 9, sizeof line - 10, format, args);
    va_end(args);
    std::strcat(line, "\n");
    XPLMDebugString(line);
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

struct Handler {
    const char* name;
    int result;
} before{"before", 1}, after{"after", 1}, blocker{"blocker", 0};

int handle(XPLMCommandRef, XPLMCommandPhase phase, void* refcon) {
    const auto* self = static_cast<const Handler*>(refcon);
    say("%s phase=%d", self->name, phase);
    return self->result;
}

void draw(XPLMWindowID window, void*) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    XPLMSetGraphicsState(0, 0, 0, 0, 0, 0, 0);
    window == windowA ? glColor3f(1.0f, 0.0f, 0.0f) : glColor3f(0.0f, 1.0f, 0.0f);  // A red, B green
    glBegin(GL_QUADS);
    glVertex2i(left, bottom);
    glVertex2i(left, top);
    glVertex2i(right, top);
    glVertex2i(right, bottom);
    glEnd();
}

int click(XPLMWindowID, int x, int y, XPLMMouseStatus status, void* refcon) {
    say("click %s %d %d status=%d", static_cast<const char*>(refcon), x, y, status);
    return 1;
}

void menuChosen(void*, void* itemRef) {
    say("menu %s", static_cast<const char*>(itemRef));
}

XPLMWindowID makeWindow(const char* name, int left, int top, int right, int bottom) {
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = left;
    params.top = top;
    params.right = right;
    params.bottom = bottom;
    params.visible = 1;
    params.drawWindowFunc = draw;
    params.handleMouseClickFunc = click;
    params.decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle;
    params.layer = xplm_WindowLayerFloatingWindows;
    params.refcon = const_cast<char*>(name);
    XPLMWindowID window = XPLMCreateWindowEx(&params);
    XPLMSetWindowTitle(window, name);
    return window;
}

void cleanUp() {
    for (Loop& l : loops) XPLMUnregisterFlightLoopCallback(loop, &l);
    XPLMUnregisterCommandHandler(command, handle, 1, &before);
    XPLMUnregisterCommandHandler(command, handle, 0, &after);
    XPLMUnregisterCommandHandler(blocked, handle, 1, &blocker);
    XPLMUnregisterCommandHandler(blocked, handle, 0, &after);
    XPLMDestroyWindow(windowA);
    XPLMDestroyWindow(windowB);
    windowA = windowB = nullptr;
    XPLMDestroyMenu(menu);
    menu = nullptr;
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

    menu = XPLMCreateMenu("Fixture", nullptr, 0, menuChosen, nullptr);
    XPLMAppendMenuItem(menu, "Fixture item", const_cast<char*>("item"), 0);

    windowA = makeWindow("A", 100, 980, 868, 468);
    windowB = makeWindow("B", 500, 700, 900, 300);
    if (mode != "fail-start") return 1;
    cleanUp();
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
}
