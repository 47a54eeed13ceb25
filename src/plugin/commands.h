#pragma once

#include "platform/xplm.h"

// The plugin's commands, their handler, the menu and the zoom steps. Main thread only.
extern XPLMCommandRef toggleCommand;
extern XPLMCommandRef increaseZoomCommand;
extern XPLMCommandRef decreaseZoomCommand;

// Creates the commands and registers handleCommand (after the simulator's own handling).
void createCommands();
// Unregisters handleCommand from the commands; the commands themselves stay.
void unregisterCommands();
// The plugin's own menu in the menu bar: show and hide, pop out and in, reload the page.
void createPluginMenu();
// Removes that menu, if it was made. Only a start that fails does this: after a normal stop
// the menu stays with the simulator.
void destroyPluginMenu();

int handleCommand(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void* inRefcon);
void handleMenu(void* inMenuRef, void* inItemRef);

void togglePanel();
// The zoom steps, increaseWebZoom() and decreaseWebZoom(), are declared in panel/panel_input.h:
// the panel's wheel takes them too.
