#include "panel/dialog_picture.h"

#include <algorithm>

#include "panel/dialog_font.h"
#include "plugin/text_encoding.h"

namespace {

// At most this many characters a line and lines of message, so a dialog stays a box over the
// page rather than a page of its own.
constexpr int widestLine = 56;
constexpr int mostLines = 8;

// Browsers show their own words for the question before a page is left, never the page's
// (pages abused them); so does the panel.
constexpr const char* leaveQuestion = "Leave this page? Changes you made may not be saved.";

struct Colour {
    std::uint8_t b, g, r;
};
constexpr Colour boxColour{0xf2, 0xf2, 0xf2};
constexpr Colour edgeColour{0x40, 0x40, 0x40};
constexpr Colour inkColour{0x10, 0x10, 0x10};
constexpr Colour fieldColour{0xff, 0xff, 0xff};
constexpr Colour buttonColour{0xd8, 0xd8, 0xd8};

std::u32string ascii(const char* text) { return std::u32string(text, text + std::char_traits<char>::length(text)); }

// Greedy wrapping at spaces; a word longer than a line is split where the line ends. Stops
// once `lines` holds `enough`: what follows would not be shown.
void wrapParagraph(const std::u32string& paragraph, std::size_t columns, std::size_t enough,
                   std::vector<std::u32string>& lines) {
    std::u32string line;
    std::size_t at = 0;
    while (at < paragraph.size() && lines.size() < enough) {
        std::size_t end = paragraph.find(U' ', at);
        if (end == std::u32string::npos) end = paragraph.size();
        std::u32string word = paragraph.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.size() + 1 + word.size() <= columns) {
            line += U' ';
            line += word;
            continue;
        }
        if (!line.empty()) lines.push_back(std::move(line));
        line.clear();
        while (word.size() > columns && lines.size() < enough) {
            lines.push_back(word.substr(0, columns));
            word.erase(0, columns);
        }
        line = std::move(word);
    }
    if (lines.size() < enough) lines.push_back(std::move(line));
}

// The message in lines of `columns`, at most `maxLines` of them, the last one ending in "..."
// when more would follow. Wrapping stops at the first line beyond them.
std::vector<std::u32string> wrap(const std::u32string& message, std::size_t columns, std::size_t maxLines) {
    std::vector<std::u32string> lines;
    std::u32string paragraph;
    for (char32_t c : message) {
        if (lines.size() > maxLines) break;
        if (c == U'\n') {
            wrapParagraph(paragraph, columns, maxLines + 1, lines);
            paragraph.clear();
        } else {
            paragraph += (c == U'\t' || c == U'\r') ? U' ' : c;
        }
    }
    if (lines.size() <= maxLines) wrapParagraph(paragraph, columns, maxLines + 1, lines);
    if (lines.size() > maxLines) {
        lines.resize(maxLines);
        std::u32string& last = lines.back();
        const std::size_t room = columns > 3 ? columns - 3 : 0;
        if (last.size() > room) last.resize(room);
        last += U"...";
        if (last.size() > columns) last.resize(columns);
    }
    return lines;
}

class Canvas {
public:
    Canvas(std::vector<std::uint8_t>& bgra, int width, int height) : bgra_(bgra), width_(width), height_(height) {}

    void fill(const DialogRect& r, Colour c) {
        for (int y = std::max(r.top, 0); y < std::min(r.bottom, height_); ++y)
            for (int x = std::max(r.left, 0); x < std::min(r.right, width_); ++x) put(x, y, c);
    }

    // A filled rectangle with an edge `thickness` wide.
    void panel(const DialogRect& r, Colour inside, int thickness) {
        fill(r, edgeColour);
        fill({r.left + thickness, r.top + thickness, r.right - thickness, r.bottom - thickness}, inside);
    }

    void dimOutside(const DialogRect& keep) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                if (keep.contains(x, y)) continue;
                std::uint8_t* p = pixel(x, y);
                for (int colour = 0; colour < 3; ++colour) p[colour] = static_cast<std::uint8_t>(p[colour] / 3);
            }
    }

    void text(const std::u32string& line, int left, int top, int scale) {
        for (std::size_t i = 0; i < line.size(); ++i) {
            const std::uint8_t* rows = dialogGlyph(line[i]);
            const int cellLeft = left + static_cast<int>(i) * dialogGlyphWidth * scale;
            for (int row = 0; row < dialogGlyphHeight; ++row)
                for (int column = 0; column < dialogGlyphWidth; ++column)
                    if ((rows[row] & (0x80 >> column)) != 0)
                        fill({cellLeft + column * scale, top + row * scale, cellLeft + (column + 1) * scale,
                              top + (row + 1) * scale},
                             inkColour);
        }
    }

private:
    std::uint8_t* pixel(int x, int y) {
        return &bgra_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) *
                      4];
    }
    void put(int x, int y, Colour c) {
        std::uint8_t* p = pixel(x, y);
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0xff;
    }

    std::vector<std::uint8_t>& bgra_;
    int width_, height_;
};

std::u32string okLabel(PageDialogKind kind) { return ascii(kind == PageDialogKind::BeforeUnload ? "Leave" : "OK"); }
std::u32string cancelLabel(PageDialogKind kind) {
    return ascii(kind == PageDialogKind::BeforeUnload ? "Stay" : "Cancel");
}

// A label centred in its button.
void label(Canvas& canvas, const DialogRect& button, const std::u32string& text, int scale) {
    const int textWidth = static_cast<int>(text.size()) * dialogGlyphWidth * scale;
    canvas.text(text, (button.left + button.right - textWidth) / 2,
                (button.top + button.bottom - dialogGlyphHeight * scale) / 2, scale);
}

}  // namespace

DialogLayout layoutDialog(const PageDialogView& dialog, int width, int height) {
    DialogLayout layout;
    if (width <= 0 || height <= 0) return layout;
    const int scale = std::clamp(std::min(width / 640, height / 400), 1, 3);
    layout.scale = scale;
    const int cellWidth = dialogGlyphWidth * scale, cellHeight = dialogGlyphHeight * scale;
    const int pad = 12 * scale, margin = 8 * scale;
    const int rowHeight = cellHeight + 8 * scale;  // of a button or the text field
    const bool prompt = dialog.kind == PageDialogKind::Prompt;

    const int boxWidth = std::max(0, std::min(width - 2 * margin, widestLine * cellWidth + 2 * pad));
    const int columns = std::max(1, (boxWidth - 2 * pad) / cellWidth);
    const int fixedHeight = 3 * pad + rowHeight + (prompt ? rowHeight + pad : 0);
    const int lineRoom = std::clamp((height - 2 * margin - fixedHeight) / cellHeight, 1, mostLines);
    const std::u32string message =
        dialog.kind == PageDialogKind::BeforeUnload ? ascii(leaveQuestion) : decodeUtf8(dialog.message);
    layout.lines = wrap(message, static_cast<std::size_t>(columns), static_cast<std::size_t>(lineRoom));

    const int boxHeight = fixedHeight + static_cast<int>(layout.lines.size()) * cellHeight;
    const int boxLeft = (width - boxWidth) / 2, boxTop = std::max(0, (height - boxHeight) / 2);
    layout.box = {boxLeft, boxTop, boxLeft + boxWidth, boxTop + boxHeight};

    int y = layout.box.top + pad + static_cast<int>(layout.lines.size()) * cellHeight + pad;
    if (prompt) {
        layout.field = {layout.box.left + pad, y, layout.box.right - pad, y + rowHeight};
        y += rowHeight + pad;
    }
    const int buttonWidth = std::min(10 * cellWidth, (boxWidth - 3 * pad) / 2);
    layout.ok = {layout.box.right - pad - buttonWidth, y, layout.box.right - pad, y + rowHeight};
    if (dialog.kind != PageDialogKind::Alert)
        layout.cancel = {layout.ok.left - pad - buttonWidth, y, layout.ok.left - pad, y + rowHeight};
    return layout;
}

void drawDialog(std::vector<std::uint8_t>& bgra, int width, int height, const PageDialogView& dialog,
                const DialogLayout& layout) {
    if (width <= 0 || height <= 0 ||
        bgra.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4)
        return;
    const int scale = layout.scale;
    const int pad = 12 * scale;
    Canvas canvas(bgra, width, height);
    canvas.dimOutside(layout.box);
    canvas.panel(layout.box, boxColour, 2 * scale);
    for (std::size_t i = 0; i < layout.lines.size(); ++i)
        canvas.text(layout.lines[i], layout.box.left + pad,
                    layout.box.top + pad + static_cast<int>(i) * dialogGlyphHeight * scale, scale);
    if (!layout.field.empty()) {
        canvas.panel(layout.field, fieldColour, scale);
        // The end of the text, where typing goes, and a caret after it.
        const int cellWidth = dialogGlyphWidth * scale;
        const int room = std::max(0, (layout.field.right - layout.field.left - 8 * scale) / cellWidth - 1);
        std::u32string shown = decodeUtf8(dialog.text);
        if (static_cast<int>(shown.size()) > room) shown.erase(0, shown.size() - static_cast<std::size_t>(room));
        const int textLeft = layout.field.left + 4 * scale, textTop = layout.field.top + 4 * scale;
        canvas.text(shown, textLeft, textTop, scale);
        const int caret = textLeft + static_cast<int>(shown.size()) * cellWidth;
        canvas.fill({caret, textTop, caret + scale, textTop + dialogGlyphHeight * scale}, inkColour);
    }
    canvas.panel(layout.ok, buttonColour, scale);
    label(canvas, layout.ok, okLabel(dialog.kind), scale);
    if (!layout.cancel.empty()) {
        canvas.panel(layout.cancel, buttonColour, scale);
        label(canvas, layout.cancel, cancelLabel(dialog.kind), scale);
    }
}
