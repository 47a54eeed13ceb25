// The panel's pointer and keyboard logic: what a sequence of simulator callbacks turns into
// for the page, and the DevTools commands both backends send for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browser/devtools/focus_channel.h"
#include "browser/devtools/input.h"
#include "panel/key_translation.h"
#include "panel/pointer_tracker.h"

namespace {

using Events = std::vector<PointerEvent>;

PointerEvent event(PagePointer what, int x, int y) { return {what, {x, y}}; }

TEST(PointerTracker, APressThatBarelyMovesStaysAClickAndTheRestingPointerHoversThenLeaves)
{
    PointerTracker p;
    p.press(100, 100, PagePoint{10, 10});
    EXPECT_FALSE(p.drag(102, 102, {12, 12}));  // under three boxels away: still a click
    EXPECT_EQ(p.frame(), std::nullopt);
    EXPECT_EQ(p.release(PagePoint{12, 12}), Events{});
    p.clicked({12, 12});
    // The page's pointer is where the click was: resting there sends nothing.
    p.hover({12, 12});
    EXPECT_EQ(p.frame(), std::nullopt);
    // Several positions in one frame: one move, to the newest.
    p.hover({20, 20});
    p.hover({30, 25});
    EXPECT_EQ(p.frame(), event(PagePointer::Move, 30, 25));
    // A frame without the simulator asking for the cursor: the pointer has left, once.
    EXPECT_EQ(p.frame(), event(PagePointer::Leave, 30, 25));
    EXPECT_EQ(p.frame(), std::nullopt);
    EXPECT_EQ(p.stop(), Events{});
}

TEST(PointerTracker, APressThatMovesIsADragWithAtMostOneMovePerFrameAndStopReleasesIt)
{
    PointerTracker p;
    p.press(100, 100, PagePoint{10, 10});
    EXPECT_EQ(p.drag(104, 100, {14, 10}), event(PagePointer::Press, 10, 10));
    EXPECT_EQ(p.drag(110, 100, {20, 10}), std::nullopt);
    p.hover({99, 99});  // the cursor while the button is held is not a hover
    EXPECT_EQ(p.frame(), event(PagePointer::Drag, 20, 10));
    EXPECT_EQ(p.frame(), std::nullopt);
    // Released elsewhere: the page sees the pointer get there before it comes up.
    EXPECT_EQ(p.release(PagePoint{30, 10}), (Events{event(PagePointer::Drag, 30, 10), event(PagePointer::Release, 30, 10)}));

    p.press(100, 100, PagePoint{10, 10});
    EXPECT_TRUE(p.drag(100, 110, {10, 20}));
    EXPECT_EQ(p.frame(), event(PagePointer::Drag, 10, 20));
    EXPECT_EQ(p.release(std::nullopt), Events{event(PagePointer::Release, 10, 20)});

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

std::vector<std::string> describe(const std::vector<PageKey>& keys)
{
    std::vector<std::string> text;
    for (const PageKey& k : keys) {
        const auto command = devtools::keyEvent(k);
        text.push_back(command.params["type"].get<std::string>() + " " + command.params["key"].get<std::string>() +
                       " " + std::to_string(command.params["modifiers"].get<int>()));
    }
    return text;
}

TEST(KeyTranslator, CharactersArriveAsWholeUtf8TextAndBrokenBytesAreDropped)
{
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
    type("a \xC3\xA9\xE2\x86\x92\xF0\x9F\x9B\xA9\xD0\x96");
    EXPECT_EQ(typed, "a \xC3\xA9\xE2\x86\x92\xF0\x9F\x9B\xA9\xD0\x96");
    EXPECT_FALSE(malformed);
    typed.clear();
    type("x", xplm_UpFlag);   // a release types nothing
    type("x", 0);             // a repeat types again
    EXPECT_EQ(typed, "x");
    // AltGr, reported as Control and Alt, with the character it makes: typing, not a shortcut.
    const KeyInput altGr = t.translate('@', xplm_DownFlag | xplm_ControlFlag | xplm_OptionAltFlag, 'Q');
    EXPECT_EQ(altGr.text, "@");
    EXPECT_EQ(describe(altGr.keys), (std::vector<std::string>{"rawKeyDown Control 2", "rawKeyDown Alt 3"}));
    t.releaseAll();
    // A lead byte cut short by a plain character, a stray continuation, an overlong form and a
    // surrogate: each dropped, the characters around them kept.
    typed.clear();
    type("\xC3" "b\x80" "c\xC0\x80\xED\xA0\x80" "d");
    EXPECT_EQ(typed, "bcd");
    EXPECT_TRUE(malformed);
}

TEST(KeyTranslator, EditingKeysArePressesModifiersFollowTheFlagsAndEscapeOnlyGivesBack)
{
    KeyTranslator t;
    std::vector<PageKey> keys;
    auto press = [&](char c, int flags, unsigned char vk) {
        const KeyInput in = t.translate(c, flags, static_cast<char>(vk));
        keys.insert(keys.end(), in.keys.begin(), in.keys.end());
        EXPECT_EQ(in.text, "");
        return in.giveBack;
    };
    press(8, xplm_DownFlag, XPLM_VK_BACK);
    press(8, 0, XPLM_VK_BACK);
    press(8, xplm_UpFlag, XPLM_VK_BACK);
    press(0, 0, XPLM_VK_DELETE);            // a repeat of a key the page never saw go down
    press(0, xplm_UpFlag, XPLM_VK_DELETE);
    press(9, xplm_DownFlag | xplm_ShiftFlag, XPLM_VK_TAB);
    press(0, xplm_DownFlag | xplm_ControlFlag | xplm_ShiftFlag, 'A');  // a shortcut: no character
    press(13, xplm_DownFlag, XPLM_VK_NUMPAD_ENT);
    EXPECT_EQ(describe(keys), (std::vector<std::string>{
                                  "rawKeyDown Backspace 0", "rawKeyDown Backspace 0", "keyUp Backspace 0",
                                  "rawKeyDown Shift 8", "rawKeyDown Tab 8", "rawKeyDown Control 10", "rawKeyDown A 10",
                                  "keyUp Shift 2", "keyUp Control 0", "keyDown Enter 0"}));
    EXPECT_EQ(devtools::keyEvent(keys[1]).params["autoRepeat"], true);
    // Escape reaches no page; the keys still down (Tab, A, Enter) and any modifier are
    // released when the keyboard goes back, and the translator starts afresh.
    keys.clear();
    EXPECT_TRUE(press(27, xplm_DownFlag | xplm_ShiftFlag, XPLM_VK_ESCAPE));
    EXPECT_FALSE(press(27, xplm_UpFlag | xplm_ShiftFlag, XPLM_VK_ESCAPE));
    EXPECT_EQ(describe(keys), std::vector<std::string>{"rawKeyDown Shift 8"});
    EXPECT_EQ(describe(t.releaseAll()),
              (std::vector<std::string>{"keyUp Tab 8", "keyUp A 8", "keyUp Enter 8", "keyUp Shift 0"}));
    EXPECT_TRUE(t.releaseAll().empty());
}

TEST(DevToolsInput, CommandsCarryWhatTheBrowserNeedsToActOnThem)
{
    const auto enter = devtools::keyEvent({PageKeyName::Enter, PageKey::Phase::Down, 0});
    EXPECT_EQ(enter.method, "Input.dispatchKeyEvent");
    EXPECT_EQ(enter.params["text"], "\r");  // what submits a form
    EXPECT_EQ(enter.params["windowsVirtualKeyCode"], 13);
    const auto shortcut = devtools::keyEvent({PageKeyName::Character, PageKey::Phase::Up, pageControl, '7'});
    EXPECT_EQ(shortcut.params["code"], "Digit7");
    EXPECT_EQ(shortcut.params["windowsVirtualKeyCode"], 55);
    EXPECT_EQ(devtools::insertText("\xC3\xA9").params, nlohmann::json({{"text", "\xC3\xA9"}}));

    const auto drag = devtools::mouseEvent(PagePointer::Drag, 10.5, 20);
    EXPECT_EQ(drag.params, nlohmann::json::parse(R"({"type":"mouseMoved","x":10.5,"y":20.0,"button":"left",
        "buttons":1,"modifiers":0})"));
    EXPECT_EQ(devtools::mouseEvent(PagePointer::Move, 1, 2).params["buttons"], 0);
    EXPECT_EQ(devtools::mouseEvent(PagePointer::Leave, 300, 200).params["x"], -1);

    // The page's report comes only through our own binding, as "1" or "0".
    for (const auto& command : devtools::textFocusChannel()) EXPECT_FALSE(command.method.empty());
    EXPECT_EQ(devtools::textFocusReport({{"name", "cvTextFocus"}, {"payload", "1"}}), true);
    EXPECT_EQ(devtools::textFocusReport({{"name", "cvTextFocus"}, {"payload", "0"}}), false);
    EXPECT_EQ(devtools::textFocusReport({{"name", "pageBinding"}, {"payload", "1"}}), std::nullopt);
    EXPECT_EQ(devtools::textFocusReport({{"name", "cvTextFocus"}, {"payload", 1}}), std::nullopt);
    EXPECT_EQ(devtools::textFocusReport(nlohmann::json::array()), std::nullopt);
}

}  // namespace
