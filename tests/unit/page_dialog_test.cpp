// A page's dialogs on their way to the pilot: a flood answered without the pilot, their texts
// bounded, and the one shown laid out once per change rather than at every click and draw.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "browser/browser_policy.h"
#include "panel/page_dialog.h"
#include "test_host.h"

namespace {

using namespace std::chrono_literals;
using Kind = PageDialogKind;

TEST(DialogFlood, TheFourthDialogWithin10SecondsAndEveryLaterOneOfThatLoadIsAnsweredWithoutThePilotToldOnce) {
    testHost();
    resetBrowserPolicy();
    newLogText();
    DialogFlood flood;
    const auto t0 = DialogFlood::Clock::now();
    // Four, never more than three within 10 s: each goes to the pilot.
    for (const auto at : {0ms, 1000ms, 2000ms, 10000ms})
        EXPECT_EQ(flood.answerWithoutPilot(Kind::Alert, t0 + at), std::nullopt);
    // The fourth within 10 s: an alert gets OK; every later one of the load, however late, Cancel.
    EXPECT_EQ(flood.answerWithoutPilot(Kind::Alert, t0 + 10500ms), true);
    for (const Kind kind : {Kind::Confirm, Kind::Prompt, Kind::BeforeUnload})
        EXPECT_EQ(flood.answerWithoutPilot(kind, t0 + 60s), false);
    EXPECT_EQ(newLogText(), "CV: the page opened more than 3 dialogs in 10 s; further dialogs of this page are "
                            "answered without the pilot.\n");
    // The next load counts afresh; its flood is not told again within the minute.
    flood.pageLoaded();
    for (int n = 0; n < 3; ++n) EXPECT_EQ(flood.answerWithoutPilot(Kind::Confirm, t0 + 61s), std::nullopt);
    EXPECT_EQ(flood.answerWithoutPilot(Kind::Confirm, t0 + 61s), false);
    EXPECT_EQ(newLogText(), "");
}

TEST(PageDialogText, AMessageOrDefaultTextBeyond4KiBIsCutAtAWholeCharacterWithAnEllipsis) {
    const std::string arrow = "\xE2\x86\x92", a4090(4090, 'a');
    EXPECT_EQ(boundedDialogText(std::string(4096, 'a')), std::string(4096, 'a'));
    EXPECT_EQ(boundedDialogText(a4090 + "aa" + arrow + "bbbb"), a4090 + "aa...");  // the arrow across the cut
    EXPECT_EQ(boundedDialogText(a4090 + arrow + "bbbb"), a4090 + arrow + "...");
    // What a page sends reaches the panel bounded, the message and a prompt's text alike.
    testHost();
    const std::string huge(8 << 20, 'x'), shown = std::string(4093, 'x') + "...";
    askPilot(Kind::Prompt, huge, huge);
    ASSERT_NE(shownPageDialog(), nullptr);
    // Compared whole, not printed: a failure would print megabytes.
    EXPECT_TRUE(shownPageDialog()->message == shown && shownPageDialog()->text == shown);
    closePageDialog();
}

TEST(PageDialogLayout, IsMadeOncePerChangeOfTheDialogOrOfThePageSize) {
    testHost();
    pageWidth = 768;
    pageHeight = 512;
    openPageDialog(Kind::Prompt, "Flight number?", "AB");
    const auto first = shownPageDialogLayout(768, 512);
    ASSERT_TRUE(first);
    // A click beside the buttons, and drawing again, use the same one.
    EXPECT_EQ(clickPageDialog(first->box.left + 2, first->box.top + 2), std::nullopt);
    EXPECT_TRUE(onPageDialog(first->box.left + 2, first->box.top + 2));
    EXPECT_FALSE(onPageDialog(first->box.left - 2, first->box.top + 2));
    EXPECT_EQ(shownPageDialogLayout(768, 512), first);
    // Typed into, or for another page size, it is laid out afresh.
    pageDialogTyped({}, "1", false);
    const auto typed = shownPageDialogLayout(768, 512);
    EXPECT_NE(typed, first);
    EXPECT_EQ(shownPageDialogLayout(768, 512), typed);
    EXPECT_NE(shownPageDialogLayout(1920, 1080), typed);
    EXPECT_EQ(clickPageDialog(first->ok.left + 2, first->ok.top + 2)->text, "AB1");
    EXPECT_EQ(shownPageDialogLayout(768, 512), nullptr);
}

}  // namespace
