#pragma once

#include <chrono>
#include <exception>
#include <optional>
#include <string>

// printf-style line into the simulator's log: formatted into 256 bytes (longer output is
// cut at 255 bytes, or before a UTF-8 character the cut would split), no prefix or line end
// added. Safe on the main thread only.
void debugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A whole line of any length, for one that names a path or a long reason; its text ends with
// the line end. Main thread only.
void logLine(const std::string& text);

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

// The barrier between the simulator or the browser and our work in one of their callbacks:
// whatever `work` throws stays here, told as one line, "<line>: <reason>\n" (or "<line>\n" when
// the exception gives none). True when the work returned normally.
void logFailure(const char* line, const char* reason) noexcept;

template <class Work>
bool guarded(const char* line, Work&& work) noexcept {
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        logFailure(line, e.what());
    } catch (...) {
        logFailure(line, nullptr);
    }
    return false;
}
