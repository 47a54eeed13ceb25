#include "panel/keyboard_input.h"

#include <chrono>
#include <exception>
#include <utility>

#include "browser/browser.h"
#include "panel/key_translation.h"
#include "panel/page_dialog.h"
#include "panel/panel_window.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

// The page answers a click within milliseconds, a busy machine's within a second or two; a
// report that comes later is about something else (a page's own script focusing a field),
// which must not take the keys.
constexpr auto clickAnswerWait = std::chrono::seconds(5);

bool holdsKeyboard = false;
KeyTranslator translator;
// Keys that answer a page dialog: the page, blocked, sees none of them, so they are kept
// apart from what the page has seen go down.
KeyTranslator dialogTranslator;
bool clickAwaitsAnswer = false;
Clock::time_point clickReleasedAt;
RepeatingLine malformedLine;

void takeKeyboard()
{
    if (holdsKeyboard || panelInput != PanelInput::Full || panelWindow == nullptr ||
        XPLMGetWindowIsVisible(panelWindow) == 0 || !browserViewReady())
        return;
    XPLMTakeKeyboardFocus(panelWindow);
    holdsKeyboard = XPLMHasKeyboardFocus(panelWindow) != 0;
}

// `simulatorTookIt`: X-Plane has already moved the focus, possibly to another window, which
// must keep it.
void letGo(bool simulatorTookIt)
{
    if (!holdsKeyboard) return;
    holdsKeyboard = false;
    for (const PageKey& key : translator.releaseAll()) sendBrowserKey(key);
    dialogTranslator.releaseAll();
    if (!simulatorTookIt && panelWindow != nullptr && XPLMHasKeyboardFocus(panelWindow) != 0)
        XPLMTakeKeyboardFocus(nullptr);
}

}  // namespace

bool panelHoldsKeyboard() { return holdsKeyboard; }

void givePanelKeyboardBack() { letGo(false); }

void takePanelKeyboardForDialog()
{
    clickAwaitsAnswer = false;
    takeKeyboard();
}

void panelPointerReleased()
{
    clickAwaitsAnswer = true;
    clickReleasedAt = Clock::now();
}

void onBrowserTextFocus(bool takesText)
{
    try {
        const bool answersClick =
            std::exchange(clickAwaitsAnswer, false) && Clock::now() - clickReleasedAt < clickAnswerWait;
        if (!takesText) {
            letGo(false);
        } else if (answersClick) {
            takeKeyboard();
        }
    } catch (...) {
        XPLMDebugString("CV: could not follow the page's focus\n");
    }
}

void handlePanelKey(XPLMWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void*, int losingFocus)
{
    try {
        if (losingFocus != 0) {
            letGo(true);
            return;
        }
        // A key still on its way after the keyboard went back (the release of Escape) is not
        // the page's.
        if (!holdsKeyboard) return;
        // The page is blocked by its dialog: the keys answer the dialog instead.
        if (pageDialogShown()) {
            const KeyInput input = dialogTranslator.translate(inKey, inFlags, inVirtualKey);
            return pageDialogTyped(input.keys, input.text, input.giveBack);
        }
        const KeyInput input = translator.translate(inKey, inFlags, inVirtualKey);
        for (const PageKey& key : input.keys) sendBrowserKey(key);
        if (!input.text.empty()) sendBrowserText(input.text);
        if (input.malformed && malformedLine.due())
            XPLMDebugString("CV: dropped typed bytes that were no UTF-8 character.\n");
        if (input.giveBack) letGo(false);
    } catch (const std::exception& e) {
        debugLog("CV: key handler failed: %s\n", e.what());
    } catch (...) {
        XPLMDebugString("CV: key handler failed\n");
    }
}
