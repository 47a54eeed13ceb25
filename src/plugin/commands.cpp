#include "plugin/commands.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "browser/browser.h"
#include "panel/panel_input.h"
#include "panel/panel_place.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

constexpr char menuItemRef[] = "cmd_vr";
constexpr char popOutItemRef[] = "cmd_popout";
constexpr char reloadItemRef[] = "cmd_reload";
XPLMMenuID pluginMenu = nullptr;

XPLMCommandRef popOutCommand = nullptr;
XPLMCommandRef brighterCommand = nullptr;
XPLMCommandRef dimmerCommand = nullptr;
XPLMCommandRef reloadPageCommand = nullptr;
XPLMCommandRef pageBackCommand = nullptr;

constexpr double brightnessStep = 0.1;

constexpr double zoomStep = 0.05;
constexpr float zoomUpperLimit = 2.0f;
constexpr double zoomLowerLimit = 0.1;

// Records the zoom for the file whatever the browser's state, and applies it once the browser
// can take it; a browser still on its way (or started again) comes up with zoomLevel.
void applyZoom() {
    storeZoomLevel();
    if (browserControllerReady()) setBrowserZoom(static_cast<double>(zoomLevel));
}

std::array<XPLMCommandRef, 8> ourCommands() {
    return {toggleCommand,   increaseZoomCommand, decreaseZoomCommand, popOutCommand,
            brighterCommand, dimmerCommand,       reloadPageCommand,   pageBackCommand};
}

// A step of 0.1 from the brightness as it is, rounded to a tenth (a file may hold 0.55), and
// kept within its range.
void stepBrightness(int direction) {
    const double stepped =
        std::round((static_cast<double>(panelBrightness) + direction * brightnessStep) * 10.0) / 10.0;
    panelBrightness = static_cast<float>(
        std::clamp(stepped, static_cast<double>(minPanelBrightness), static_cast<double>(maxPanelBrightness)));
    storePanelBrightness();
}

bool is(void* itemRef, const char* ref) {
    return itemRef != nullptr && std::strcmp(static_cast<const char*>(itemRef), ref) == 0;
}

}  // namespace

void createCommands() {
    toggleCommand = XPLMCreateCommand("Corvane/TogglePanel", "Toggle the Corvane Toolbar.");
    increaseZoomCommand = XPLMCreateCommand("Corvane/IncreaseWebZoom", "Increase zoomlevel of Corvane panel.");
    decreaseZoomCommand = XPLMCreateCommand("Corvane/DecreaseWebZoom", "Decrease zoomlevel of Corvane panel.");
    popOutCommand =
        XPLMCreateCommand("Corvane/PopOutPanel", "Move the Corvane panel into a window of its own and back.");
    brighterCommand = XPLMCreateCommand("Corvane/PanelBrighter", "Make the Corvane panel brighter.");
    dimmerCommand = XPLMCreateCommand("Corvane/PanelDimmer", "Make the Corvane panel dimmer.");
    reloadPageCommand = XPLMCreateCommand("Corvane/ReloadPage", "Load the configured Corvane page again.");
    pageBackCommand = XPLMCreateCommand("Corvane/PageBack", "Go back to the page before in the Corvane panel.");
    for (const XPLMCommandRef command : ourCommands()) XPLMRegisterCommandHandler(command, handleCommand, 0, nullptr);
}

void unregisterCommands() {
    for (const XPLMCommandRef command : ourCommands()) XPLMUnregisterCommandHandler(command, handleCommand, 0, nullptr);
}

void createPluginMenu() {
    pluginMenu = XPLMCreateMenu("Corvane Toolbar", nullptr, 0, handleMenu, nullptr);
    XPLMAppendMenuItem(pluginMenu, "Toggle Panel on/off.", const_cast<char*>(menuItemRef), 1);
    XPLMAppendMenuItem(pluginMenu, "Pop out / pop in", const_cast<char*>(popOutItemRef), 1);
    XPLMAppendMenuItem(pluginMenu, "Reload the page", const_cast<char*>(reloadItemRef), 1);
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
        if (inCommand == popOutCommand) togglePopOut();
        if (inCommand == brighterCommand) stepBrightness(1);
        if (inCommand == dimmerCommand) stepBrightness(-1);
        if (inCommand == reloadPageCommand) reloadPageNow();
        if (inCommand == pageBackCommand) pageBackNow();
    });
    return 1;
}

void handleMenu(void*, void* inItemRef) {
    guarded("CV: menu handler failed", [&] {
        if (is(inItemRef, menuItemRef)) togglePanel();
        if (is(inItemRef, popOutItemRef)) togglePopOut();
        if (is(inItemRef, reloadItemRef)) reloadPageNow();
    });
}

void togglePanel() {
    if (panelWindow == nullptr) return;
    XPLMSetWindowIsVisible(panelWindow, XPLMGetWindowIsVisible(panelWindow) == 0 ? 1 : 0);
    if (XPLMGetWindowIsVisible(panelWindow) != 0) {
        panelShown();
        resumePanelInput();
    }
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
