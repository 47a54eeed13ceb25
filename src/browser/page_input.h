// What the panel hands the page besides a plain click: pointer moves, key presses and typed
// text. Portable: each backend turns these into its browser's input calls.
#pragma once

// Pointer input at a page pixel. A drag is a move with the left button held, between a Press
// and a Release; a Leave tells the page the pointer is no longer over it.
enum class PagePointer { Move, Press, Drag, Release, Leave };

// Keys the page gets as key presses rather than as text. Character is an ASCII letter or
// digit pressed together with Control or Alt (a shortcut, which types nothing).
enum class PageKeyName {
    Backspace,
    Delete,
    Enter,
    Tab,
    ArrowLeft,
    ArrowRight,
    ArrowUp,
    ArrowDown,
    Home,
    End,
    PageUp,
    PageDown,
    Shift,
    Control,
    Alt,
    Character,
};

// Modifier bits as the page's key events carry them (the DevTools protocol's values).
enum PageModifier : int { pageAlt = 1, pageControl = 2, pageShift = 8 };

struct PageKey {
    enum class Phase { Down, Repeat, Up };
    PageKeyName name = PageKeyName::Enter;
    Phase phase = Phase::Down;
    int modifiers = 0;   // PageModifier bits held with the key
    char character = 0;  // Character: the letter or digit as typed ('a', 'A', '7')
};

// The questions a page's script can put to whoever looks at it, which block the page until
// they are answered: alert (OK), confirm (OK, Cancel), prompt (a text, OK, Cancel) and the
// question before a page is left (leave = OK, stay = Cancel).
enum class PageDialogKind { Alert, Confirm, Prompt, BeforeUnload };
