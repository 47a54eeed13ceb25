// Where the panel is: floating in the simulator's window, or popped out into a window of its
// own on the desktop; where it was at the last stop; and the pilot's command between the two.
// Main thread only.
#pragma once

#include <optional>
#include <vector>

// A window's rectangle as X-Plane gives it: boxels of the global desktop, or the desktop's
// pixels for a popped-out window, y up or down as the system has it.
struct PlaceRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const PlaceRect&) const = default;
};

// `rect` moved, and where it is larger shrunk, until it lies on one of `screens`: the one it
// overlaps most, else the first (the main one). Unchanged when it lies on one already or no
// screen is known. Whether y runs up or down is taken from `rect`.
PlaceRect fitOnScreens(const PlaceRect& rect, const std::vector<PlaceRect>& screens);

// Reads the place of the last stop from the settings and puts the panel there; a panel popped
// out then pops out again when first shown. Call once the window exists, not in VR.
void restorePanelPlace();
// At stop: the panel's place into the settings document, when the pilot changed it.
void keepPanelPlace();
// The command: pops the panel out into a window of its own (showing it), or back in. In VR
// it does nothing but tell the log.
void togglePopOut();
// The panel was just shown.
void panelShown();
// The simulator is about to move the panel into VR.
void panelEntersVr();
// The panel is in a window of its own.
bool panelPoppedOut();
// For a module that starts again: nothing of the last session's place is held.
void resetPanelPlace();
