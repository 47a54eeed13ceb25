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
