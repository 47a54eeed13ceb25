// Turns the simulator's key callbacks into page keyboard input, while the panel holds the
// keyboard. Characters become typed text: X-Plane hands a character outside ASCII to the key
// callback as its UTF-8 bytes, one call each, and they are put back together into whole
// characters here. Backspace, Delete, Enter, Tab, the arrows, Home, End, Page Up and Page Down
// become key presses; Control or Alt with a letter or digit and no character a shortcut key.
// The modifier flags become Shift, Control and Alt going down and up in the page as they
// change, so the page never keeps one down after the keyboard goes back. Escape asks for the
// keyboard to go back.
// Pure logic: the caller sends what it is given.
#pragma once

#include <string>
#include <vector>

#include "browser/page_input.h"
#include "platform/xplm.h"

struct KeyInput {
    std::vector<PageKey> keys;  // in order, modifier changes first
    std::string text;           // whole UTF-8 characters to type, after the keys
    bool giveBack = false;      // Escape: the keyboard goes back to the simulator
    bool malformed = false;     // bytes that were no UTF-8 character were dropped
};

class KeyTranslator {
public:
    // One call of the panel's key callback (not a losing-focus one).
    KeyInput translate(char key, XPLMKeyFlags flags, char virtualKey);
    // The keyboard goes back: a release for every key and modifier still down in the page.
    // The translator starts afresh afterwards.
    std::vector<PageKey> releaseAll();

private:
    struct Held {
        PageKeyName name;
        char character;
    };
    void followModifiers(int modifiers, std::vector<PageKey>& keys);
    void takeByte(unsigned char byte, KeyInput& input);

    int modifiers_ = 0;         // what the page has seen go down
    std::vector<Held> held_;    // keys down in the page
    std::string partial_;       // a UTF-8 character being put together
    std::size_t expected_ = 0;  // its length in bytes
};
