// The panel's input for the page in Chromium, and the page's reports of its text focus.
#include <exception>
#include <utility>

#include "browser/chromium/chromium_state.h"
#include "browser/devtools/focus_channel.h"
#include "browser/devtools/input.h"
#include "plugin/log.h"

namespace {

RepeatingLine inputTrouble;

// Pointer moves go out every frame: trouble sending them is told when it starts.
void sendInput(const devtools::Command& command) {
    try {
        browser->sendToPage(cdp::Request::Input, command.method, command.params);
        inputTrouble.clear();
    } catch (const std::exception& e) {
        if (inputTrouble.due()) debugLog("CV: could not send input to the page: %s\n", e.what());
    }
}

}  // namespace

void setUpInput(ChromiumBrowser& current) {
    // Before the page loads, so its documents carry the focus reports from the start. Sent
    // ahead of the viewport, which Chromium can take a second to answer, so that the page load
    // waiting for them does not wait for it too.
    // The channel's Page.enable is also what turns on the page's events: the commits that can
    // take a snapshot with them. The page is navigated once they are on; until then no
    // snapshot is asked for, as if it were navigating.
    for (const devtools::Command& command : devtools::textFocusChannel()) {
        if (command.method == "Page.enable") {
            current.sendToPage(cdp::Request::EnablePage, command.method, command.params);
        } else {
            ++current.focusChannelUnanswered;
            current.sendToPage(cdp::Request::FocusChannel, command.method, command.params);
        }
    }
}

void focusChannelAnswered(ChromiumBrowser& current, const cdp::Completion& answer) {
    // Without the reports the panel never takes the keyboard; clicks and hovering still work.
    if (!answer.ok && !std::exchange(current.focusChannelRefused, true))
        debugLog("CV: the page cannot report its focus (%s); typing into the panel is off for this browser.\n",
                 answer.text.c_str());
    --current.focusChannelUnanswered;
    navigateOnceSetUp(current);
}

void resetInput() { inputTrouble.clear(); }

void sendBrowserClick(int pageX, int pageY) {
    sendBrowserPointer(PagePointer::Press, pageX, pageY);
    sendBrowserPointer(PagePointer::Release, pageX, pageY);
}

void sendBrowserPointer(PagePointer what, int pageX, int pageY) {
    if (!browserViewReady()) return;
    // The pixel of the last picture, which the pointer was mapped onto, on the page (in the
    // view it is scaled into).
    const cdp::Viewport v = browser->viewport();
    const double scale = browser->inputScale();
    sendInput(devtools::mouseEvent(what, cdp::pageToCss(pageX, pageWidth.load(), v.clipWidth) * scale,
                                   cdp::pageToCss(pageY, pageHeight.load(), v.clipHeight) * scale));
}

void sendBrowserWheel(int pageX, int pageY, int clicks, bool horizontal) {
    if (!browserViewReady()) return;
    const cdp::Viewport v = browser->viewport();
    const double scale = browser->inputScale();
    // A notch scrolls as far as Chromium scrolls for one of a desktop mouse; a turn away from
    // the pilot scrolls up, against the protocol's downward deltaY.
    const double notch = devtools::wheelNotchCss * clicks;
    sendInput(devtools::mouseWheel(cdp::pageToCss(pageX, pageWidth.load(), v.clipWidth) * scale,
                                   cdp::pageToCss(pageY, pageHeight.load(), v.clipHeight) * scale,
                                   horizontal ? notch : 0.0, horizontal ? 0.0 : -notch));
}

void sendBrowserKey(const PageKey& key) {
    if (browserViewReady()) sendInput(devtools::keyEvent(key));
}

void sendBrowserText(const std::string& utf8) {
    if (browserViewReady()) sendInput(devtools::insertText(utf8));
}
