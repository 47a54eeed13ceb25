#include "plugin/commands.h"

#include <array>
#include <cstring>

#include "browser/browser.h"
#include "panel/panel_input.h"
#include "panel/panel_window.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr char menuItemRef[] = "cmd_vr";
XPLMMenuID pluginMenu = nullptr;

constexpr double zoomStep = 0.05;
constexpr float zoomUpperLimit = 2.0f;
constexpr double zoomLowerLimit = 0.1;

// Records the zoom for the file whatever the browser's state, and applies it once the browser
// can take it; a browser still on its way (or started again) comes up with zoomLevel.
void applyZoom() {
    storeZoomLevel();
    if (browserControllerReady()) setBrowserZoom(static_cast<double>(zoomLevel));
}

std::array<XPLMCommandRef, 3> ourCommands() { return {toggleCommand, increaseZoomCommand, decreaseZoomCommand}; }

}  // namespace

void createCommands() {
    toggleCommand = XPLMCreateCommand("Corvane/TogglePanel", "Toggle the Corvane Toolbar.");
    increaseZoomCommand = XPLMCreateCommand("Corvane/IncreaseWebZoom", "Increase zoomlevel of Corvane panel.");
    decreaseZoomCommand = XPLMCreateCommand("Corvane/DecreaseWebZoom", "Decrease zoomlevel of Corvane panel.");
    for (const XPLMCommandRef command : ourCommands()) XPLMRegisterCommandHandler(command, handleCommand, 0, nullptr);
}

void unregisterCommands() {
    for (const XPLMCommandRef command : ourCommands()) XPLMUnregisterCommandHandler(command, handleCommand, 0, nullptr);
}

void createPluginMenu() {
    pluginMenu = XPLMCreateMenu("Corvane Toolbar", nullptr, 0, handleMenu, nullptr);
    XPLMAppendMenuItem(pluginMenu, "Toggle Panel on/off.", const_cast<char*>(menuItemRef), 1);
}

void destroyPluginMenu() {
    if (pluginMenu == nullptr) return;
    XPLMDestroyMenu(pluginMenu);
    pluginMenu = nullptr;
}

int handleCommand(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void*) {
    // Acting on the release only: a held key or button makes one step, not a repeat.
    if (inPhase != xplm_CommandEnd) return 1;
    guarded("CV: command handler failed", [&] {
        if (inCommand == toggleCommand) togglePanel();
        if (inCommand == increaseZoomCommand) increaseWebZoom();
        if (inCommand == decreaseZoomCommand) decreaseWebZoom();
    });
    return 1;
}

void handleMenu(void*, void* inItemRef) {
    guarded("CV: menu handler failed", [&] {
        if (inItemRef != nullptr && std::strcmp(static_cast<const char*>(inItemRef), menuItemRef) == 0) togglePanel();
    });
}

void togglePanel() {
    if (panelWindow == nullptr) return;
    XPLMSetWindowIsVisible(panelWindow, XPLMGetWindowIsVisible(panelWindow) == 0 ? 1 : 0);
    if (XPLMGetWindowIsVisible(panelWindow) != 0) resumePanelInput();
}

void increaseWebZoom() {
    if (zoomUpperLimit > zoomLevel) zoomLevel = static_cast<float>(static_cast<double>(zoomLevel) + zoomStep);
    applyZoom();
}

void decreaseWebZoom() {
    if (static_cast<double>(zoomLevel) > zoomLowerLimit)
        zoomLevel = static_cast<float>(static_cast<double>(zoomLevel) - zoomStep);
    applyZoom();
}
