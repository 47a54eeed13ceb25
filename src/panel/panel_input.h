#pragma once

// The panel's input beyond plain clicks (PanelInput full): once a frame the newest hover or
// drag position goes to the page, and while the panel is hidden nothing does. Main thread only.

// Registers the per-frame work; the panel window exists.
void startPanelInput();
// Input stops for now (the panel hidden, the plugin disabled, the panel moving into or out of
// VR): a drag is released, the pointer leaves the page, and the keyboard goes back.
void stopPanelInput();
// stopPanelInput, then the per-frame work is unregistered; before the window goes.
void endPanelInput();
