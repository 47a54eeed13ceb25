#include "plugin/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/xplm.h"
#include "plugin/text_encoding.h"

void debugLog(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // Cut at 255 bytes, never inside a UTF-8 character (a folder name in Cyrillic, say): the
    // log never holds a broken byte sequence.
    if (length >= static_cast<int>(sizeof buffer)) buffer[wholeCharactersWithin(buffer, sizeof buffer - 1)] = '\0';
    XPLMDebugString(buffer);
}

void logLine(const std::string& text) { XPLMDebugString(text.c_str()); }

bool RepeatingLine::due() {
    const auto now = std::chrono::steady_clock::now();
    if (told_ && now - *told_ < std::chrono::minutes(1)) return false;
    told_ = now;
    return true;
}

void logFailure(const char* line, const char* reason) noexcept {
    if (reason != nullptr && *reason != '\0')
        debugLog("%s: %s\n", line, reason);
    else
        debugLog("%s\n", line);
}
