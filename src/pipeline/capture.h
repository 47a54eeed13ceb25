#pragma once

#include <atomic>
#include <cstdint>

#include "browser/browser.h"

// True from a snapshot request until its completion has been handled (or it timed out).
extern std::atomic<bool> captureInFlight;
extern double lastCaptureTime;
extern double lastRefreshTime;

float PanelFlightLoop(float sinceLastCall, float sinceLastFlightLoop, int counter, void* refcon);
void RequestCapture();

// The pilot's commands for the page: a fresh navigation to the configured address (the
// periodic reload then counts from it), and a step back in the page's history. Each tells the
// log why it does nothing while the page waits for its dialog's answer or the browser is not up.
void reloadPageNow();
void pageBackNow();

// The schedule's one question to the panel, defined by the panel: may the page be captured or
// reloaded now? Asked afresh each time, as a snapshot's time-out may change the answer.
struct PanelAnswer {
    bool capture = false;  // the panel is shown: the page is worth a snapshot
    // A page dialog waits for the pilot: the blocked page is asked for no snapshot, and a
    // snapshot still out is not given up on meanwhile.
    bool paused = false;
    // Not paused, and the pilot is not typing into the page, which a reload would wipe.
    bool reload = false;
};
PanelAnswer askPanel();

// The snapshot the browser answered, on the main thread: a successful snapshot's bytes go to
// the decode queue (a failed or empty one is dropped), and snapshot requests are enabled again
// in every case.
void OnCaptureCompleted(bool succeeded, PngBuffer snapshot);

// True while a snapshot waits in the decode queue: the decode thread has not caught up yet.
bool decodeBacklog();

// At stop, once the browser is gone: a snapshot still in flight is given up, so that a start in
// a module that stayed loaded asks for its first snapshot at once, and its answer, if it
// still comes, is dropped.
void abandonCapture();
