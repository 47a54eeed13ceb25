// When to try again after the browser was lost or could not be brought up: 1 s, doubling up to
// 60 s, and back to 1 s once a browser has served snapshots for 5 minutes. A browser that keeps
// failing is tried for as long as the plugin runs, never faster than once a minute in the end.
// Both backends use it, each on its own clock.
#pragma once

#include <chrono>
#include <optional>

class RestartBackoff {
public:
    // A reading of the caller's clock: any clock that only moves forward, the same one for
    // every call on one back-off.
    using Time = std::chrono::duration<double>;
    static constexpr std::chrono::seconds firstDelay{1};
    static constexpr std::chrono::seconds longestDelay{60};
    static constexpr std::chrono::minutes healthyAfter{5};

    struct Attempt {
        int number;                  // 1 for the first attempt after a healthy browser
        std::chrono::seconds delay;  // how long to wait before it
    };

    // The browser failed: the attempt that follows. `atLongestDelay` for a fault no quick
    // retry mends (no browser program to start), which goes straight to the longest delay.
    Attempt failed(bool atLongestDelay = false);
    // A new browser was started; its serving time counts from its own first snapshot.
    void started() { firstServed_.reset(); }
    // The current browser answered a snapshot at `now`.
    void served(Time now);

private:
    int attempts_ = 0;
    std::chrono::seconds nextDelay_ = firstDelay;
    std::optional<Time> firstServed_;
};
