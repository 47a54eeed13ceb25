#pragma once

// Tells the page the colour scheme the pilot prefers (PanelColorScheme): light or dark as set,
// or with auto dark while the simulator's sun is below the horizon, looked at once a minute.
// The browser hears only of changes. Main thread only.

// Decides at once (so the first page is told), then once a minute from a flight loop of its own.
void startColorScheme();
// Unregisters that flight loop; a module that starts again looks at the sun at once.
void stopColorScheme();

// One decision at the simulator's time `now`, and a fresh start for the next; for the flight
// loop, and for tests.
void runColorScheme(double now);
void resetColorScheme();
