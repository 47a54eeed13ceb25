#include "panel/key_translation.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "plugin/text_encoding.h"

namespace {

std::optional<PageKeyName> namedKey(unsigned char virtualKey) {
    switch (virtualKey) {
    case XPLM_VK_BACK: return PageKeyName::Backspace;
    case XPLM_VK_DELETE: return PageKeyName::Delete;
    case XPLM_VK_RETURN:
    case XPLM_VK_ENTER:
    case XPLM_VK_NUMPAD_ENT: return PageKeyName::Enter;
    case XPLM_VK_TAB: return PageKeyName::Tab;
    case XPLM_VK_LEFT: return PageKeyName::ArrowLeft;
    case XPLM_VK_RIGHT: return PageKeyName::ArrowRight;
    case XPLM_VK_UP: return PageKeyName::ArrowUp;
    case XPLM_VK_DOWN: return PageKeyName::ArrowDown;
    case XPLM_VK_HOME: return PageKeyName::Home;
    case XPLM_VK_END: return PageKeyName::End;
    case XPLM_VK_PRIOR: return PageKeyName::PageUp;
    case XPLM_VK_NEXT: return PageKeyName::PageDown;
    default: return std::nullopt;
    }
}

int pageModifiers(XPLMKeyFlags flags) {
    return ((flags & xplm_ShiftFlag) != 0 ? pageShift : 0) | ((flags & xplm_ControlFlag) != 0 ? pageControl : 0) |
           ((flags & xplm_OptionAltFlag) != 0 ? pageAlt : 0);
}

}  // namespace

void KeyTranslator::followModifiers(int modifiers, std::vector<PageKey>& keys) {
    constexpr std::pair<PageModifier, PageKeyName> kinds[] = {
        {pageShift, PageKeyName::Shift}, {pageControl, PageKeyName::Control}, {pageAlt, PageKeyName::Alt}};
    for (const auto& [bit, name] : kinds) {
        if ((modifiers_ & bit) == (modifiers & bit)) continue;
        modifiers_ ^= bit;
        // As a keyboard reports them: a modifier's own down carries it, its up no longer does.
        keys.push_back({name, (modifiers & bit) != 0 ? PageKey::Phase::Down : PageKey::Phase::Up, modifiers_});
    }
}

void KeyTranslator::takeByte(unsigned char byte, KeyInput& input) {
    if (byte < 0x80) {
        if (!partial_.empty()) input.malformed = true;
        partial_.clear();
        // Control characters come with keys handled above, or with none the page could use.
        if (byte >= 0x20 && byte != 0x7F) input.text += static_cast<char>(byte);
        return;
    }
    if ((byte & 0xC0) == 0x80) {
        if (partial_.empty()) {
            input.malformed = true;
            return;
        }
        partial_ += static_cast<char>(byte);
        if (partial_.size() < expected_) return;
        // A whole character: no overlong form, surrogate or value beyond U+10FFFF.
        if (decodeUtf8At(partial_, 0).length == partial_.size())
            input.text += partial_;
        else
            input.malformed = true;
        partial_.clear();
        return;
    }
    if (!partial_.empty()) input.malformed = true;
    partial_.clear();
    expected_ = (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 0;
    if (expected_ == 0)
        input.malformed = true;
    else
        partial_ += static_cast<char>(byte);
}

KeyInput KeyTranslator::translate(char key, XPLMKeyFlags flags, char virtualKeyChar) {
    KeyInput input;
    const auto virtualKey = static_cast<unsigned char>(virtualKeyChar);
    const auto byte = static_cast<unsigned char>(key);
    const PageKey::Phase phase = (flags & xplm_DownFlag) != 0 ? PageKey::Phase::Down
                                 : (flags & xplm_UpFlag) != 0 ? PageKey::Phase::Up
                                                              : PageKey::Phase::Repeat;
    const int modifiers = pageModifiers(flags);
    followModifiers(modifiers, input.keys);

    if (virtualKey == XPLM_VK_ESCAPE || byte == 27) {
        input.giveBack = phase == PageKey::Phase::Down;
        return input;
    }
    std::optional<PageKeyName> name = namedKey(virtualKey);
    char character = 0;
    // A letter or digit with Control or Alt and no character of its own (X-Plane gives such
    // chords none, or a control character) is a shortcut. One that does bring a character is
    // typing: AltGr, which Windows reports as Control and Alt, makes the "@" of many keyboards.
    if (!name && byte < 0x20 && (modifiers & (pageControl | pageAlt)) != 0 && std::isalnum(virtualKey) != 0 &&
        virtualKey < 0x80) {
        name = PageKeyName::Character;
        character = static_cast<char>((modifiers & pageShift) != 0 ? virtualKey : std::tolower(virtualKey));
    }
    if (name) {
        const auto same = [&](const Held& h) { return h.name == *name && h.character == character; };
        const auto down = std::find_if(held_.begin(), held_.end(), same);
        if (phase == PageKey::Phase::Down) {
            if (down == held_.end()) held_.push_back({*name, character});
        } else if (down == held_.end()) {
            return input;  // a repeat or release of a key the page never saw go down
        } else if (phase == PageKey::Phase::Up) {
            held_.erase(down);
        }
        input.keys.push_back({*name, phase, modifiers, character});
        return input;
    }
    // A character, typed when it goes down and again each time it repeats.
    if (phase != PageKey::Phase::Up && byte != 0) takeByte(byte, input);
    return input;
}

std::vector<PageKey> KeyTranslator::releaseAll() {
    std::vector<PageKey> keys;
    for (const Held& h : held_) keys.push_back({h.name, PageKey::Phase::Up, modifiers_, h.character});
    followModifiers(0, keys);
    *this = KeyTranslator{};
    return keys;
}
