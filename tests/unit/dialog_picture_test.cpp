// The page dialog the panel draws: what fits, what is cut, and that its buttons are where
// they are drawn, on pages from tiny to large.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "panel/dialog_font.h"
#include "plugin/text_encoding.h"
#include "panel/dialog_picture.h"

namespace {

bool inside(const DialogRect& inner, const DialogRect& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

bool overlap(const DialogRect& a, const DialogRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(PageDialogPicture, LongMessagesWrapAtSpacesAndAreCutWithAnEllipsisWithinTheBoxOnEveryPageSize) {
    std::string message;
    for (int i = 0; i < 200; ++i) message += "word" + std::to_string(i) + " ";
    message += std::string(300, 'x');  // one word longer than any line
    const std::pair<int, int> sizes[] = {{768, 512}, {1920, 1080}, {200, 120}, {60, 40}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const DialogLayout layout = layoutDialog({PageDialogKind::Prompt, message, ""}, width, height);
        ASSERT_FALSE(layout.lines.empty());
        const int cell = dialogGlyphWidth * layout.scale;
        for (const auto& line : layout.lines)
            EXPECT_LE(layout.box.left + 12 * layout.scale + static_cast<int>(line.size()) * cell, layout.box.right);
        const std::u32string& last = layout.lines.back();
        const std::size_t dots = std::min<std::size_t>(3, last.size());
        EXPECT_EQ(last.substr(last.size() - dots), std::u32string(U"...", dots));
        for (const DialogRect& part : {layout.ok, layout.cancel, layout.field}) EXPECT_TRUE(inside(part, layout.box));
        EXPECT_FALSE(overlap(layout.ok, layout.cancel));
        EXPECT_FALSE(overlap(layout.field, layout.ok));
        EXPECT_GE(layout.box.left, 0);
        EXPECT_LE(layout.box.right, width);
        // Drawing stays within the picture (a sanitizer build sees any stray write).
        std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 4, 0x80);
        const PageDialogView typedInto{PageDialogKind::Prompt, message, std::string(500, 'y')};
        drawDialog(picture, width, height, typedInto, layoutDialog(typedInto, width, height));
    }
    // A short message keeps its words whole, and its own line breaks.
    const DialogLayout shortOne =
        layoutDialog({PageDialogKind::Confirm, "Log this flight?\nIt took 2 h.", ""}, 768, 512);
    EXPECT_EQ(shortOne.lines, (std::vector<std::u32string>{U"Log this flight?", U"It took 2 h."}));
    EXPECT_TRUE(shortOne.field.empty());
}

TEST(PageDialogPicture, CharactersTheFontLacksAndBrokenBytesAreDrawnAsQuestionMarks) {
    // A lead byte cut short by a plain character is one U+FFFD, the character after it kept.
    EXPECT_EQ(decodeUtf8("\xE2\x28\xA1"), U"\ufffd(\ufffd");
    for (char32_t c : {U'\u00f6', U'\ufffd', U'\n', U'A', U'~'})
        EXPECT_EQ(dialogGlyph(c) == dialogGlyph(U'?'), c != U'A' && c != U'~') << static_cast<int>(c);
}

}  // namespace
