#include "panel/panel_input.h"

#include "panel/keyboard_input.h"
#include "panel/mouse_input.h"
#include "panel/panel_window.h"
#include "plugin/settings.h"

namespace {

bool loopRegistered = false;

float PanelInputFlightLoop(float, float, int, void*)
{
    try {
        if (panelWindow != nullptr && XPLMGetWindowIsVisible(panelWindow) != 0) {
            sendPointerFrame();
        } else {
            stopPanelInput();
        }
    } catch (...) {
        XPLMDebugString("CV: panel input failed\n");
    }
    return -1.0f;
}

}  // namespace

void startPanelInput()
{
    // With clicks only there is nothing to do per frame, and no keyboard to give back.
    if (loopRegistered || panelInput != PanelInput::Full) return;
    XPLMRegisterFlightLoopCallback(PanelInputFlightLoop, -1.0f, nullptr);
    loopRegistered = true;
}

void stopPanelInput()
{
    stopPointerInput();
    givePanelKeyboardBack();
}

void endPanelInput()
{
    stopPanelInput();
    if (!loopRegistered) return;
    XPLMUnregisterFlightLoopCallback(PanelInputFlightLoop, nullptr);
    loopRegistered = false;
}
