#pragma once

#include <chrono>

// A log line for a condition that could otherwise be written every frame or every snapshot:
// it is written when the condition starts, then at most once a minute while it lasts.
// Main thread only.
class ThrottledLine {
public:
    using Clock = std::chrono::steady_clock;

    explicit ThrottledLine(Clock::duration interval = std::chrono::minutes(1)) : interval_(interval) {}

    // The condition holds now; true when the line is to be written.
    bool due(Clock::time_point now)
    {
        if (active_ && now - lastWritten_ < interval_) return false;
        active_ = true;
        lastWritten_ = now;
        return true;
    }
    // The condition has ended: its next start is written at once.
    void reset() { active_ = false; }

private:
    Clock::duration interval_;
    Clock::time_point lastWritten_{};
    bool active_ = false;
};
