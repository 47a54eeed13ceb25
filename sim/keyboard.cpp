#include "keyboard.h"

#include "platform/xplm.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace xpsim {
namespace {

// XPLMDefs.h: the ASCII codes X-Plane gives control keys, and its own virtual-key codes.
struct NamedKey {
    const char* name;
    char character;
    unsigned char virtualKey;
};
constexpr NamedKey kNamedKeys[] = {
    {"enter", 13, 0x0D}, {"return", 13, 0x0D}, {"backspace", 8, 0x08}, {"delete", 0, 0x2E},   {"escape", 27, 0x1B},
    {"tab", 9, 0x09},    {"left", 28, 0x25},   {"right", 29, 0x27},    {"up", 30, 0x26},      {"down", 31, 0x28},
    {"home", 0, 0x24},   {"end", 0, 0x23},     {"pageup", 0, 0x21},    {"pagedown", 0, 0x22}, {"space", ' ', 0x20},
};

// The US keyboard: punctuation keys with their XPLM_VK_* code, unshifted and shifted.
struct PunctuationKey {
    char plain, shifted;
    unsigned char virtualKey;
};
constexpr PunctuationKey kPunctuation[] = {
    {'=', '+', 0xB0},  {'-', '_', 0xB1}, {']', '}', 0xB2}, {'[', '{', 0xB3}, {'\'', '"', 0xB4}, {';', ':', 0xB5},
    {'\\', '|', 0xB6}, {',', '<', 0xB7}, {'/', '?', 0xB8}, {'.', '>', 0xB9}, {'`', '~', 0xBA},
};
constexpr char kShiftedDigits[] = ")!@#$%^&*(";  // shift with 0 … 9

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool printableAscii(char c) { return c >= 0x20 && c <= 0x7E; }

// How a US keyboard types one printable ASCII character.
KeyStroke usKey(char c) {
    KeyStroke k;
    k.character = c;
    k.label = std::string("'") + c + "'";
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isalpha(u) != 0) {
        k.virtualKey = static_cast<unsigned char>(std::toupper(u));
        if (std::isupper(u) != 0) k.modifiers = xplm_ShiftFlag;
    } else if (std::isdigit(u) != 0 || c == ' ') {
        k.virtualKey = u;
    } else if (const char* digit = std::strchr(kShiftedDigits, c)) {
        k.virtualKey = static_cast<unsigned char>('0' + (digit - kShiftedDigits));
        k.modifiers = xplm_ShiftFlag;
    } else {
        for (const PunctuationKey& p : kPunctuation) {
            if (c != p.plain && c != p.shifted) continue;
            k.virtualKey = p.virtualKey;
            if (c == p.shifted) k.modifiers = xplm_ShiftFlag;
        }
    }
    return k;
}

// Length of the UTF-8 sequence starting at `text`, 0 when it is malformed.
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || lead == 0xC0 || lead == 0xC1 || lead > 0xF4 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::optional<KeyStroke> parseKey(const std::string& text) {
    if (text.size() == 1) {
        if (!printableAscii(text[0])) return std::nullopt;
        // Today's delivery of `key CHAR`: the character with no flag of its own.
        KeyStroke k;
        k.character = text[0];
        k.label = "'" + text + "'";
        const unsigned char u = static_cast<unsigned char>(text[0]);
        if (std::isalnum(u) != 0) k.virtualKey = static_cast<unsigned char>(std::toupper(u));
        return k;
    }
    int modifiers = 0;
    std::string rest = text;
    for (std::size_t plus; rest.size() > 1 && (plus = rest.find('+')) != std::string::npos;) {
        const std::string modifier = lower(rest.substr(0, plus));
        if (modifier == "shift")
            modifiers |= xplm_ShiftFlag;
        else if (modifier == "ctrl" || modifier == "control")
            modifiers |= xplm_ControlFlag;
        else if (modifier == "alt")
            modifiers |= xplm_OptionAltFlag;
        else
            return std::nullopt;
        rest = rest.substr(plus + 1);
    }
    KeyStroke k;
    const std::string name = lower(rest);
    const auto named =
        std::find_if(std::begin(kNamedKeys), std::end(kNamedKeys), [&](const NamedKey& n) { return name == n.name; });
    if (named != std::end(kNamedKeys)) {
        k.character = named->character;
        k.virtualKey = named->virtualKey;
    } else if (rest.size() == 1 && printableAscii(rest[0])) {
        k = usKey(rest[0]);
        // Shift makes a letter a capital; Control and Alt chords carry no character.
        if ((modifiers & xplm_ShiftFlag) != 0)
            k.character = static_cast<char>(std::toupper(static_cast<unsigned char>(k.character)));
    } else {
        return std::nullopt;
    }
    if ((modifiers & (xplm_ControlFlag | xplm_OptionAltFlag)) != 0 && printableAscii(k.character)) k.character = 0;
    k.modifiers |= modifiers;
    k.label = lower(text);
    return k;
}

std::optional<std::vector<KeyStroke>> typedText(const std::string& utf8) {
    std::vector<KeyStroke> strokes;
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t length = utf8Length(utf8, at);
        if (length == 0) return std::nullopt;
        if (length == 1) {
            if (!printableAscii(utf8[at])) return std::nullopt;
            strokes.push_back(usKey(utf8[at]));
        } else {
            // One call per byte: the key callback's character is a single char.
            for (std::size_t i = 0; i < length; ++i) {
                KeyStroke k;
                k.character = utf8[at + i];
                k.label = "byte " + std::to_string(static_cast<unsigned char>(utf8[at + i]));
                strokes.push_back(k);
            }
        }
        at += length;
    }
    return strokes;
}

}  // namespace xpsim
