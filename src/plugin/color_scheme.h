#pragma once

// Tells the page the colour scheme the pilot prefers (PanelColorScheme): light or dark as set,
// or with auto dark while the simulator's sun is below the horizon, looked at once a minute.
// Called by the flight loop with the simulator's time; the browser hears only of changes.
void runColorScheme(double now);
// For a module that starts again: auto looks at the sun at once.
void resetColorScheme();
