// The page's live frames in Chromium: its screencast, and the scale its pictures are rendered at.
//
// Frames arrive decoded from base64 by the pipe's I/O thread, which hands each straight to the
// decoder (the main thread's next frame would add a simulator frame to every keystroke's echo).
// Each is then acknowledged here: Chromium sends the next frame only once the last is
// acknowledged, so acknowledging on the main thread paces the browser to the simulator's frames
// without ever leaving it waiting on us for longer than one of them.
#include <string>
#include <utility>

#include "browser/chromium/chromium_state.h"
#include "browser/chromium/snapshot_request.h"
#include "browser/devtools/page_commands.h"
#include "plugin/log.h"

double lastPageScale = 1.0;

namespace {

void sendStart(ChromiumBrowser& current) {
    const cdp::Viewport v = current.viewport();
    const devtools::Command command = devtools::screencastStart(v.pictureWidth, v.pictureHeight);
    current.sendToPage(cdp::Request::Screencast, command.method, command.params);
    current.screencastOn = true;
}

void sendStop(ChromiumBrowser& current) {
    current.screencastOn = false;
    current.sendToPage(cdp::Request::StopScreencast, "Page.stopScreencast", nlohmann::json::object());
}

// The screencast is over for this browser: the frame pipeline falls back to snapshots.
void screencastEnded(ChromiumBrowser& current, const std::string& why) {
    current.screencastOn = false;
    onBrowserScreencastEnded(why.c_str());
}

}  // namespace

void screencastFrame(ChromiumBrowser& current, cdp::Completion& frame) {
    // A frame shows the browser serving, as a snapshot does.
    if (frame.ok) browserServed();
    // One the I/O thread could not hand over is handed over now.
    if (current.screencastOn && frame.ok && !frame.snapshot.empty()) onBrowserFrame(std::move(frame.snapshot));
    current.sendToPage(cdp::Request::FrameAck, "Page.screencastFrameAck", {{"sessionId", frame.tag}});
}

void screencastAnswered(ChromiumBrowser& current, const cdp::Completion& answer) {
    // A refusal of a start since stopped changes nothing.
    if (!answer.ok && current.screencastOn) screencastEnded(current, "the browser refused it: " + answer.text);
}

void screencastHidden(ChromiumBrowser& current) {
    if (!current.screencastOn) return;
    // Chromium keeps a hidden page's screencast open, silent: it is stopped here.
    sendStop(current);
    screencastEnded(current, "the browser reports the page hidden from it");
}

void screencastPageLoaded(ChromiumBrowser& current) {
    // A screencast kept running across reloads was seen to fall silent for good (Chromium 156,
    // a reload every 2 s, a busy machine). Started again on the loaded page, it sends one frame
    // at once and then one at each repaint.
    if (current.screencastOn) {
        sendStop(current);
        sendStart(current);
    }
}

void shotAnswered(cdp::Completion& answer) {
    if (answer.ok) browserServed();
    onBrowserShot(answer.tag, answer.ok, std::move(answer.snapshot), answer.text.c_str());
}

bool startBrowserShot(CaptureTicket ticket) {
    if (!browserViewReady()) return false;
    return guarded("CV: could not ask for a picture of the page", [ticket] {
        ChromiumBrowser& current = *browser;
        current.sendToPage(cdp::Request::Shot, "Page.captureScreenshot",
                           cdp::shotParams(current.viewport(), !current.scaledView()), ticket);
        pictureAsked(current, cdp::Request::Shot, ticket);
    });
}

bool startBrowserScreencast() {
    if (!browserViewReady()) return false;
    return guarded("CV: could not start the screencast", [] { sendStart(*browser); });
}

void stopBrowserScreencast() {
    if (!browser || !browser->screencastOn) return;
    guarded("CV: could not stop the screencast", [] { sendStop(*browser); });
}

void setBrowserPageScale(double scale) {
    if (!cdp::usablePageScale(scale)) return;
    lastPageScale = scale;
    if (!browserViewReady() || browser->pageScale == scale) return;
    guarded("CV: could not change the page scale", [scale] {
        ChromiumBrowser& current = *browser;
        current.pageScale = scale;
        sendViewport(current);
        // Its frames are sized at its start: it starts again at the new size.
        if (current.screencastOn) {
            sendStop(current);
            sendStart(current);
        }
    });
}
