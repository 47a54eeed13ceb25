// The panel's pointer and keyboard logic where the fake-page test cannot reach: drags, and
// keys the simulator reports oddly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/devtools/input.h"
#include "panel/key_translation.h"
#include "panel/pointer_tracker.h"

namespace {

using Events = std::vector<PointerEvent>;

PointerEvent event(PagePointer what, int x, int y) { return {what, {x, y}}; }

TEST(PointerTracker, APressThatMovesIsADragWithAtMostOneMovePerFrameAndStopReleasesIt) {
    PointerTracker p;
    p.press(100, 100, PagePoint{10, 10});
    EXPECT_EQ(p.drag(104, 100, {14, 10}), event(PagePointer::Press, 10, 10));
    EXPECT_EQ(p.drag(110, 100, {20, 10}), std::nullopt);
    p.hover({99, 99});  // the cursor while the button is held is not a hover
    EXPECT_EQ(p.frame(), event(PagePointer::Drag, 20, 10));
    EXPECT_EQ(p.frame(), std::nullopt);
    // Released elsewhere: the page sees the pointer get there before it comes up.
    EXPECT_EQ(p.release(PagePoint{30, 10}),
              (Events{event(PagePointer::Drag, 30, 10), event(PagePointer::Release, 30, 10)}));
    // Hidden in the middle of a drag: released where it was, and the pointer leaves.
    p.press(100, 100, PagePoint{10, 10});
    p.drag(120, 100, {30, 10});
    EXPECT_EQ(p.stop(), (Events{event(PagePointer::Release, 30, 10), event(PagePointer::Leave, 30, 10)}));
    EXPECT_EQ(p.frame(), std::nullopt);
    // A press off the page never becomes a drag.
    p.press(100, 100, std::nullopt);
    EXPECT_FALSE(p.drag(200, 200, {50, 50}));
    EXPECT_EQ(p.release(PagePoint{50, 50}), Events{});
}

std::vector<std::string> describe(const std::vector<PageKey>& keys) {
    std::vector<std::string> text;
    for (const PageKey& k : keys) {
        const auto command = devtools::keyEvent(k);
        text.push_back(command.params["type"].get<std::string>() + " " + command.params["key"].get<std::string>() +
                       " " + std::to_string(command.params["modifiers"].get<int>()));
    }
    return text;
}

TEST(KeyTranslator, CharactersArriveAsWholeUtf8TextAndBrokenBytesAreDropped) {
    KeyTranslator t;
    std::string typed;
    bool malformed = false;
    auto type = [&](const std::string& bytes, int flags = xplm_DownFlag) {
        for (char c : bytes) {
            const KeyInput in = t.translate(c, flags, 0);
            typed += in.text;
            malformed = malformed || in.malformed;
            EXPECT_TRUE(in.keys.empty());
        }
    };
    type("\xF0\x9F\x9B\xA9\xD0\x96");  // four and two bytes, whole
    EXPECT_EQ(typed, "\xF0\x9F\x9B\xA9\xD0\x96");
    EXPECT_FALSE(malformed);
    typed.clear();
    type("x", xplm_UpFlag);  // a release types nothing
    type("x", 0);            // a repeat types again
    EXPECT_EQ(typed, "x");
    // AltGr, reported as Control and Alt, with the character it makes: typing, not a shortcut.
    const KeyInput altGr = t.translate('@', xplm_DownFlag | xplm_ControlFlag | xplm_OptionAltFlag, 'Q');
    EXPECT_EQ(altGr.text, "@");
    EXPECT_EQ(describe(altGr.keys), (std::vector<std::string>{"rawKeyDown Control 2", "rawKeyDown Alt 3"}));
    t.releaseAll();
    // A lead byte cut short by a plain character, a stray continuation, an overlong form and a
    // surrogate: each dropped, the characters around them kept.
    typed.clear();
    type("\xC3"
         "b\x80"
         "c\xC0\x80\xED\xA0\x80"
         "d");
    EXPECT_EQ(typed, "bcd");
    EXPECT_TRUE(malformed);
}

}  // namespace
