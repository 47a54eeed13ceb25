#pragma once

#include <atomic>

#include "platform/xplm.h"

// The panel window and its shared state. Main thread only.
extern XPLMWindowID panelWindow;
extern XPLMDataRef vrEnabledRef;
// The window's size in boxels (and of the blank start image), distinct from the page size.
extern std::atomic<int> panelWidth;
extern std::atomic<int> panelHeight;

// Creates the panel window hidden, placed on the desktop or in VR as vrEnabledRef says.
void createPanelWindow();
// The simulator's VR messages: 109 moves the window into VR, 110 back to the desktop.
void handleVrMessage(int message);
// Destroys the window if there is one.
void destroyPanelWindow();
