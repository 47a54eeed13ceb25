// The settings file as the pilot wrote it: one value changed in the pilot's own text, so that
// every other line (comments, stray lines, keys kept twice, what follows a NUL byte) stays as
// it was, byte for byte. The lines are found the way the settings format reads them.
#pragma once

#include <optional>
#include <string>

namespace settingstext {

// `text` with the value of `key` in `section` set to `value` (a single line). The line the
// settings format takes the value from (the last of that key in that section, names matched
// without regard to case) gets the new value; a missing key is added after the section's last
// entry, a missing section at the end (before a '[' left open there, which would take it in).
// Added lines end as the file's first line does (`newline` in a file without one). Nothing
// when the addition would have to split a line: the reader stops at a NUL byte, so a line
// holding one cannot take a line after it.
std::optional<std::string> withValue(const std::string& text, const char* section, const char* key,
                                     const std::string& value, const char* newline);

// True when both texts hold the same lines once blank ones are left out, in the same order,
// each with the same bytes and the same line end.
bool sameNonBlankLines(const std::string& a, const std::string& b);

}  // namespace settingstext
