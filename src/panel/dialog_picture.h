// What the panel draws over the page's last picture while the page waits for an answer to
// one of its dialogs: the page dimmed, a box with the message (wrapped at spaces, cut with
// "..." when it does not fit), for a prompt its text field, and OK and Cancel buttons. Pure
// logic on page pixels (top-left origin), so the click mapping's page point hits the buttons
// where they are drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "browser/page_input.h"

struct DialogRect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool empty() const { return right <= left || bottom <= top; }
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct PageDialogView {
    PageDialogKind kind = PageDialogKind::Alert;
    std::string message;  // UTF-8, as the page gave it
    std::string text;     // a prompt's text as typed so far (UTF-8)
};

struct DialogLayout {
    int scale = 1;  // pixels per font pixel
    DialogRect box;
    std::vector<std::u32string> lines;  // the message as drawn, one entry a line
    DialogRect field;                   // a prompt's text field; empty otherwise
    DialogRect ok;
    DialogRect cancel;  // empty for an alert
};

// Where everything goes on a page of width x height pixels.
DialogLayout layoutDialog(const PageDialogView& dialog, int width, int height);

// Draws the dialog, laid out for that size, over `bgra` (a page picture of width x height,
// BGRA, top row first).
void drawDialog(std::vector<std::uint8_t>& bgra, int width, int height, const PageDialogView& dialog,
                const DialogLayout& layout);
