#pragma once

#include "platform/xplm.h"

// The panel's input has one owner, this: it decides where a key, a click or a wheel turn goes
// (an open page dialog first, then the page, then the simulator) and holds the keyboard. The
// keyboard is taken only when a click on the page leaves the page's focus on an element that
// takes text, or for the answer to a page dialog (one that opens right after the pilot clicked
// or typed into the page, or once the pilot clicks on it), and given back, with every key and
// modifier released in the page, on Escape, when the page's focus leaves the text element,
// when the simulator takes it away, and whenever the panel's input stops. Main thread only.

// The panel window's callbacks.
int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);
void handlePanelKey(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void* inRefcon,
                    int losingFocus);
// The simulator asks it every frame while the pointer is over the panel; the cursor stays the
// simulator's.
XPLMCursorStatus handlePanelCursor(XPLMWindowID inWindowID, int x, int y, void* inRefcon);
// One wheel event is one zoom step at most, on either axis.
int handlePanelWheel(XPLMWindowID inWindowID, int x, int y, int wheel, int clicks, void* inRefcon);
// X-Plane calls every callback slot of a window without checking it, so the right-click slot
// holds this rather than null: the right click is swallowed without passing anything to the
// page or to whatever lies under the panel.
int handlePanelRightClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void* inRefcon);

// Defined by the plugin: the zoom steps a wheel turn makes.
void increaseWebZoom();
void decreaseWebZoom();

// A click or a drag's release reached the page: if the page's focus then takes text, the
// panel takes the keyboard.
void panelPointerReleased();

// Registers the per-frame work (PanelInput full: the newest hover or drag position goes to
// the page once a frame, and while the panel is hidden nothing does); the window exists.
void startPanelInput();
// The panel is shown again: a page dialog left open while it was hidden takes the keyboard
// for its answer if the pilot used the page just before, as when it opened.
void resumePanelInput();
// Input stops for now (the panel hidden, the plugin disabled, the panel moving into or out of
// VR): a drag is released, the pointer leaves the page, and the keyboard goes back.
void stopPanelInput();
// stopPanelInput, then the per-frame work is unregistered; before the window goes.
void endPanelInput();
