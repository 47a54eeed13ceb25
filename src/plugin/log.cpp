#include "plugin/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/xplm.h"

namespace {

// Drops a UTF-8 character the cut at the buffer's end left incomplete (a folder name in
// Cyrillic, say), so the log never holds a broken byte sequence.
void dropCutCharacter(char* text, std::size_t length)
{
    if (length == 0) return;
    std::size_t lead = length - 1;
    while (lead > 0 && length - lead < 4 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
    const unsigned char first = static_cast<unsigned char>(text[lead]);
    const std::size_t size = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (lead + size > length) text[lead] = '\0';
}

}  // namespace

void debugLog(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length >= static_cast<int>(sizeof buffer)) dropCutCharacter(buffer, sizeof buffer - 1);
    XPLMDebugString(buffer);
}

bool RepeatingLine::due()
{
    const auto now = std::chrono::steady_clock::now();
    if (told_ && now - *told_ < std::chrono::minutes(1)) return false;
    told_ = now;
    return true;
}
