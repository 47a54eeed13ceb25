#pragma once

// printf-style line into the simulator's log: formatted into 256 bytes (longer output is
// cut at 255 bytes, or before a UTF-8 character the cut would split), no prefix or line end
// added. Safe on the main thread only.
void debugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
