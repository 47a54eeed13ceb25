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

// At stop, once the browser is gone: a snapshot still in flight is given up, so that a start in
// a module that stayed loaded asks for its first snapshot at once, and its answer, if it
// still comes, is dropped.
void abandonCapture();
