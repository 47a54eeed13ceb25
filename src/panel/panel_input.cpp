#include "panel/panel_input.h"

#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "browser/browser.h"
#include "panel/key_translation.h"
#include "panel/mouse_input.h"
#include "panel/page_dialog.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "platform/flight_loop.h"
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
// When the pilot last clicked the page or typed into it: a page dialog that opens within
// `clickAnswerWait` of it answers what the pilot did, and takes the keyboard for its answer.
// Any other (a timer's, a page's own script's) waits in the panel for a click on it, so the
// pilot's keys stay with the simulator until they choose to answer.
std::optional<Clock::time_point> pilotUsedPageAt;
RepeatingLine malformedLine;

bool panelVisible() { return panelWindow != nullptr && XPLMGetWindowIsVisible(panelWindow) != 0; }

void takeKeyboard() {
    if (holdsKeyboard || panelInput != PanelInput::Full || !panelVisible() || !browserViewReady()) return;
    XPLMTakeKeyboardFocus(panelWindow);
    holdsKeyboard = XPLMHasKeyboardFocus(panelWindow) != 0;
}

bool pilotJustUsedPage() { return pilotUsedPageAt && Clock::now() - *pilotUsedPageAt < clickAnswerWait; }

// A page dialog is shown: right after the pilot used the page the panel takes the keyboard for
// its answer (with PanelInput full and the panel visible), and keeps it if it held it already.
void takeKeyboardForDialog() {
    clickAwaitsAnswer = false;
    if (pilotJustUsedPage()) takeKeyboard();
}

// `simulatorTookIt`: X-Plane has already moved the focus, possibly to another window, which
// must keep it.
void letGo(bool simulatorTookIt) {
    if (!holdsKeyboard) return;
    holdsKeyboard = false;
    for (const PageKey& key : translator.releaseAll()) sendBrowserKey(key);
    dialogTranslator.releaseAll();
    if (!simulatorTookIt && panelWindow != nullptr && XPLMHasKeyboardFocus(panelWindow) != 0)
        XPLMTakeKeyboardFocus(nullptr);
}

// The pilot answered the page's dialog, which is closed: the keyboard goes back to the
// simulator, then the page gets the answer.
void answerDialog(const std::optional<PageDialogAnswer>& answer) {
    if (!answer) return;
    letGo(false);
    answerBrowserDialog(answer->accept, answer->text);
}

// A button answers on the release, as a page's own buttons do; a click elsewhere on the dialog
// takes the keyboard for its answer.
void clickOnDialog(XPLMWindowID window, int x, int y, XPLMMouseStatus mouse) {
    int pageX = 0, pageY = 0;
    if (mouse != xplm_MouseUp || !mapPanelPointToPage(window, x, y, pageX, pageY)) return;
    const std::optional<PageDialogAnswer> answer = clickPageDialog(pageX, pageY);
    if (answer) return answerDialog(answer);
    if (onPageDialog(pageX, pageY)) takeKeyboard();
}

float PanelInputFlightLoop(float, float, int, void*) {
    guarded("CV: panel input failed", [&] {
        if (!panelVisible()) {
            stopPanelInput();
        } else if (!pageDialogShown()) {
            // A page blocked by its dialog takes no input until it is answered.
            sendPointerFrame();
        }
    });
    return -1.0f;
}

FlightLoop inputLoop{PanelInputFlightLoop};

}  // namespace

int handlePanelMouseClick(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void*) {
    int taken = 1;
    guarded("CV: mouse click handler failed", [&] {
        if (inMouse == xplm_MouseDown && XPLMIsWindowInFront(inWindowID) == 0) XPLMBringWindowToFront(inWindowID);
        // The page is blocked by its dialog, whose buttons the panel draws: clicks answer it.
        if (pageDialogShown()) return clickOnDialog(inWindowID, x, y, inMouse);
        const PointerOutcome outcome = sendPanelPointer(inWindowID, x, y, inMouse);
        if (outcome == PointerOutcome::Released) panelPointerReleased();
        if (outcome == PointerOutcome::OffPanel) taken = 0;
    });
    return taken;
}

void handlePanelKey(XPLMWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void*, int losingFocus) {
    guarded("CV: key handler failed", [&] {
        if (losingFocus != 0) return letGo(true);
        // A key still on its way after the keyboard went back (the release of Escape) is not
        // the page's.
        if (!holdsKeyboard) return;
        // The page is blocked by its dialog: the keys answer the dialog instead.
        if (pageDialogShown()) {
            const KeyInput input = dialogTranslator.translate(inKey, inFlags, inVirtualKey);
            return answerDialog(pageDialogTyped(input.keys, input.text, input.giveBack));
        }
        pilotUsedPageAt = Clock::now();
        const KeyInput input = translator.translate(inKey, inFlags, inVirtualKey);
        for (const PageKey& key : input.keys) sendBrowserKey(key);
        if (!input.text.empty()) sendBrowserText(input.text);
        if (input.malformed && malformedLine.due())
            XPLMDebugString("CV: dropped typed bytes that were no UTF-8 character.\n");
        if (input.giveBack) letGo(false);
    });
}

XPLMCursorStatus handlePanelCursor(XPLMWindowID inWindowID, int x, int y, void*) {
    guarded("CV: cursor handler failed", [&] {
        if (!pageDialogShown()) hoverPanelPointer(inWindowID, x, y);
    });
    return xplm_CursorDefault;
}

int handlePanelWheel(XPLMWindowID inWindowID, int x, int y, int wheel, int clicks, void*) {
    guarded("CV: mouse wheel handler failed", [&] {
        if (panelWheel == PanelWheel::Scroll) {
            // The page under the pointer scrolls; a page blocked by its dialog takes no input.
            int pageX = 0, pageY = 0;
            if (clicks != 0 && !pageDialogShown() && mapPanelPointToPage(inWindowID, x, y, pageX, pageY))
                sendBrowserWheel(pageX, pageY, clicks, wheel == 1);
            return;
        }
        if (clicks > 0) increaseWebZoom();
        if (clicks < 0) decreaseWebZoom();
    });
    return 1;
}

int handlePanelRightClick(XPLMWindowID, int, int, XPLMMouseStatus, void*) { return 1; }

void onBrowserTextFocus(bool takesText) {
    guarded("CV: could not follow the page's focus", [&] {
        const bool answersClick =
            std::exchange(clickAwaitsAnswer, false) && Clock::now() - clickReleasedAt < clickAnswerWait;
        if (!takesText)
            letGo(false);
        else if (answersClick)
            takeKeyboard();
    });
}

void onBrowserDialogOpened(PageDialogKind kind, const std::string& message, const std::string& defaultText) {
    guarded("CV: could not show the page's dialog", [&] {
        openPageDialog(kind, message, defaultText);
        takeKeyboardForDialog();
    });
}

void onBrowserDialogClosed() {
    if (closePageDialog()) letGo(false);
}

void panelPointerReleased() {
    clickAwaitsAnswer = true;
    clickReleasedAt = Clock::now();
    pilotUsedPageAt = clickReleasedAt;
}

PanelAnswer askPanel() {
    const bool dialogWaits = pageDialogShown();
    return {panelVisible(), dialogWaits, !holdsKeyboard && !dialogWaits};
}

void startPanelInput() {
    // With clicks only there is nothing to do per frame, and no keyboard to give back.
    if (panelInput == PanelInput::Full) inputLoop.start();
}

void resumePanelInput() {
    if (pageDialogShown()) takeKeyboardForDialog();
}

void stopPanelInput() {
    stopPointerInput();
    letGo(false);
}

void endPanelInput() {
    stopPanelInput();
    inputLoop.stop();
    // The window goes: what the pilot did in it is over.
    pilotUsedPageAt.reset();
}
