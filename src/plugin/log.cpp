#include "plugin/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/xplm.h"

void debugLog(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    XPLMDebugString(buffer);
}

bool RepeatingLine::due()
{
    const auto now = std::chrono::steady_clock::now();
    if (told_ && now - *told_ < std::chrono::minutes(1)) return false;
    told_ = now;
    return true;
}
