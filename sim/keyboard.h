// What X-Plane hands a window's key callback for a key on the keyboard: the character, the
// virtual-key code (XPLMDefs.h's XPLM_VK_*, not Windows' codes) and the modifier flags. The
// script's `key`, `type` and `hold-key` commands are built from these.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace xpsim {

struct KeyStroke {
    char character = 0;  // 0 for keys without one (Home, Delete, a Control chord)
    unsigned char virtualKey = 0;
    int modifiers = 0;  // xplm_ShiftFlag | xplm_OptionAltFlag | xplm_ControlFlag
    std::string label;  // how the log names it: 'x', enter, ctrl+a
};

// A key as the script names it: one printable ASCII character, or a name (enter, return,
// backspace, delete, escape, tab, left, right, up, down, home, end, pageup, pagedown, space),
// each after any of shift+, ctrl+ (or control+) and alt+. A lone character keeps today's
// `key CHAR` delivery: no flag of its own, and a virtual key only for letters, digits and
// space. Empty for anything else.
std::optional<KeyStroke> parseKey(const std::string& text);

// The strokes that type UTF-8 text on a US keyboard: an ASCII character as its key, with the
// shift flag for capitals and shifted symbols; a character beyond ASCII as its UTF-8 bytes,
// one stroke each, without a virtual key. Empty when the text is not valid UTF-8.
std::optional<std::vector<KeyStroke>> typedText(const std::string& utf8);

}  // namespace xpsim
