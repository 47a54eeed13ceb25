#pragma once

#include <atomic>

// True from a snapshot request until its completion has been handled.
extern std::atomic<bool> captureInFlight;
extern double lastCaptureTime;
extern double lastRefreshTime;

float PanelFlightLoop(float sinceLastCall, float sinceLastFlightLoop, int counter, void* refcon);
void RequestCapture();
