#include "panel/panel_window.h"

#include "panel/page_scale.h"
#include "panel/panel_place.h"
#include "panel/panel_input.h"
#include "panel/panel_texture.h"

namespace {

constexpr int panelMargin = 100;  // from the left and top edges of the global desktop

}  // namespace

void createPanelWindow() {
    int screenLeft = 0, screenTop = 0, screenRight = 0, screenBottom = 0;
    XPLMGetScreenBoundsGlobal(&screenLeft, &screenTop, &screenRight, &screenBottom);

    panelWidth.store(768);
    panelHeight.store(512);
    // Looked up once with the window: a lookup costs a search by name, a read does not.
    uiScaleRef = XPLMFindDataRef("sim/graphics/misc/user_interface_scale");

    XPLMCreateWindow_t params{.structSize = sizeof(XPLMCreateWindow_t),
                              .left = screenLeft + panelMargin,
                              .top = screenTop - panelMargin,
                              .right = screenLeft + panelMargin + panelWidth.load(),
                              .bottom = screenTop - panelMargin - panelHeight.load(),
                              .visible = 0,
                              .drawWindowFunc = drawPanelWindow,
                              .handleMouseClickFunc = handlePanelMouseClick,
                              .handleKeyFunc = handlePanelKey,
                              .handleCursorFunc = handlePanelCursor,
                              .handleMouseWheelFunc = handlePanelWheel,
                              .refcon = nullptr,
                              .decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle,
                              .layer = xplm_WindowLayerFloatingWindows,
                              .handleRightClickFunc = handlePanelRightClick};

    panelWindow = XPLMCreateWindowEx(&params);
    if (panelWindow == nullptr) {
        XPLMDebugString("CV ERROR: XPLMCreateWindowEx returned NULL\n");
        return;
    }
    XPLMSetWindowIsVisible(panelWindow, 0);

    if (vrEnabledRef != nullptr && XPLMGetDatai(vrEnabledRef) != 0) {
        XPLMSetWindowPositioningMode(panelWindow, xplm_WindowVR, -1);
    } else {
        XPLMSetWindowPositioningMode(panelWindow, xplm_WindowPositionFree, -1);
        // Keeps the window's size and its distance from the top-left corner when the
        // simulator's window is resized.
        XPLMSetWindowGravity(panelWindow, 0.0f, 1.0f, 0.0f, 1.0f);
    }
    XPLMSetWindowTitle(panelWindow, "Corvane Toolbar");
    restorePanelPlace();
    startPanelInput();
}

void handleVrMessage(int message) {
    if (panelWindow == nullptr) return;
    // The pointer and the window's place change: nothing held or hovered carries over.
    if (message == XPLM_MSG_ENTERED_VR || message == XPLM_MSG_EXITING_VR) stopPanelInput();
    if (message == XPLM_MSG_ENTERED_VR) {
        panelEntersVr();
        XPLMSetWindowPositioningMode(panelWindow, xplm_WindowVR, -1);
    } else if (message == XPLM_MSG_EXITING_VR) {
        if (XPLMWindowIsInVR(panelWindow) != 0) XPLMSetWindowPositioningMode(panelWindow, xplm_WindowPositionFree, 0);
    }
}

void destroyPanelWindow() {
    if (panelWindow == nullptr) return;
    endPanelInput();
    XPLMDestroyWindow(panelWindow);
    // Forgotten at once so no later call can reach a window the host has freed.
    panelWindow = nullptr;
}
