#pragma once

#include "platform/xplm.h"

// The panel's keyboard. It takes the simulator's keyboard focus only when a click on the page
// leaves the page's focus on an element that takes text, forwards keys while it holds it, and
// gives it back, with every key and modifier released in the page, on Escape, when the
// page's focus leaves the text element, when the simulator takes it away, and whenever the
// panel's input stops. Main thread only.

// The key callback of the panel window.
void handlePanelKey(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void* inRefcon,
                    int losingFocus);
// A click or a drag's release reached the page: if the page's focus then takes text, the
// panel takes the keyboard.
void panelPointerReleased();
// True while the panel holds the keyboard (the pilot is typing into the page).
bool panelHoldsKeyboard();
// A page dialog is shown: the panel takes the keyboard for its answer (with PanelInput full
// and the panel visible), and keeps it if it held it already.
void takePanelKeyboardForDialog();
// Gives the keyboard back to the simulator if the panel holds it.
void givePanelKeyboardBack();
