// Which pictures the panel gets and when: a screencast's frames while the panel is shown (the
// default), or the 2 Hz snapshots of the capture schedule when the pilot chose them or the
// browser offers no frames. Main thread only.
#pragma once

// The scale the page is wanted at, for a sharp picture at the panel's size in pixels, and the
// rule behind it (the panel's width in pixels over the layout's, in steps of 0.25 between 1
// and 3): defined by the panel.
double wantedPageScale();
double pageScaleFor(double panelPixelWidth);

// Runs once per flight loop, before the snapshot schedule: starts the screencast when the
// panel is shown and stops it when hidden, falls back to snapshots when no frame comes, and
// passes a changed page scale on. `now` is the simulator's elapsed time.
void runLiveFrames(double now);
// True while pictures come from the 2 Hz snapshots rather than a screencast.
bool snapshotsScheduled();
// What the schedule is to start at once, without waiting for its period: a snapshot when a
// picture is wanted that the screencast has not brought (a shown panel, a loaded page), a check
// of the browser when the screencast has been quiet for long. Stays until one has been started
// or refused.
enum class WantedNow { Nothing, Check, Snapshot };
WantedNow wantedNow();
void wantedStarted();
// A snapshot or check timed out: while the screencast runs, a check follows at once, so that a
// hung browser is told from a still page without waiting another quiet period.
void liveSnapshotTimedOut();
// A disabled plugin shows nothing: its screencast stops, and the next flight loop after enabling
// starts it again.
void stopLiveFrames();
// At stop: the next start begins afresh (a module may stay loaded).
void resetLiveFrames();
