#pragma once

#include <chrono>
#include <optional>

// printf-style line into the simulator's log: formatted into 256 bytes (longer output is
// cut at 255 bytes, or before a UTF-8 character the cut would split), no prefix or line end
// added. Safe on the main thread only.
void debugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// For a line about a condition that can come back at every reload, frame or snapshot: it is
// told when the condition starts, then at most once a minute while it lasts.
class RepeatingLine {
public:
    // True when the line is due now; it then counts as told.
    bool due();
    // The condition has ended: the next occurrence is told at once.
    void clear() { told_.reset(); }

private:
    std::optional<std::chrono::steady_clock::time_point> told_;
};
