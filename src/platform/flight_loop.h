// One flight loop callback of ours, registered with the simulator at most once at a time and
// never left registered when its owner stops or goes. Main thread only.
#pragma once

#include "platform/xplm.h"

class FlightLoop {
public:
    explicit FlightLoop(XPLMFlightLoop_f callback) : callback_(callback) {}
    FlightLoop(const FlightLoop&) = delete;
    FlightLoop& operator=(const FlightLoop&) = delete;
    ~FlightLoop() { stop(); }

    // Called every frame from now on (a negative interval counts frames, as the simulator's does).
    void start(float interval = -1.0f) {
        if (registered_) return;
        XPLMRegisterFlightLoopCallback(callback_, interval, nullptr);
        registered_ = true;
    }
    void stop() {
        if (!registered_) return;
        XPLMUnregisterFlightLoopCallback(callback_, nullptr);
        registered_ = false;
    }
    bool registered() const { return registered_; }

private:
    XPLMFlightLoop_f callback_;
    bool registered_ = false;
};
