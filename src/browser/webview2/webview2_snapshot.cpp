// PNG snapshots: CapturePreview into a fresh memory stream, and on completion the copy of
// the stream's memory block that goes to the decode queue; and checks of the browser, which
// the hang rule counts as snapshots.
#include <cstdint>
#include <string>
#include <utility>

#include "browser/browser.h"
#include "browser/devtools/page_commands.h"
#include "browser/webview2/webview2_state.h"
#include "platform/xplm.h"
#include "plugin/log.h"

using Microsoft::WRL::ComPtr;

namespace {

// Copies the whole memory block behind the stream (not its logical length: the block is at
// least as long as the PNG, and the decoder ignores what follows the image). Empty when the
// block cannot be had.
PngBuffer copySnapshotBlock(IStream* stream) {
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream, &memory)) || memory == nullptr) return {};
    const SIZE_T size = GlobalSize(memory);
    if (size == 0) return {};
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(memory));
    if (data == nullptr) return {};
    PngBuffer snapshot;
    try {
        snapshot.bytes.assign(data, data + size);
    } catch (...) {
        snapshot.bytes.clear();
    }
    GlobalUnlock(memory);
    return snapshot;
}

// A view whose browser process has gone refuses every snapshot at once, twice a second, and
// the panel keeps its last picture: told when it starts, then once a minute.
RepeatingLine refusedLine;

void onSnapshotWritten(CaptureTicket ticket, HRESULT errorCode) {
    WebView2Browser& current = *browser;
    ComPtr<IStream> stream;  // stays null for one given up on
    if (ComPtr<IStream>* owed = current.owedSnapshots.find(ticket)) {
        stream.Swap(*owed);
        current.owedSnapshots.settle(ticket);
    } else if (current.snapshotsGivenUp.erase(ticket) == 0) {
        return;
    }
    // Any answer shows the browser alive, a late one included.
    current.hangWatch.answered();
    PngBuffer snapshot;
    if (SUCCEEDED(errorCode) && stream) snapshot = copySnapshotBlock(stream.Get());
    const bool succeeded = !snapshot.empty();
    if (succeeded) browserServed();
    // Exactly once per started snapshot; the schedule drops one it gave up on.
    onBrowserSnapshot(ticket, succeeded, std::move(snapshot));
}

// Counts a snapshot that timed out or was refused; `what` tells which, should it be the last
// one a hung or lost browser is given.
void snapshotLost(WebView2Browser& current, const std::string& what) {
    if (current.hangWatch.snapshotLost()) browserFailed(what);
}

// A closed view (its browser process gone, and the news of it missed) refuses for ever.
void snapshotRefused(WebView2Browser& current) { snapshotLost(current, "CV: WebView2 refused 3 snapshots in a row"); }

}  // namespace

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (!browserViewReady()) return false;
    WebView2Browser& current = *browser;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()))) {
        XPLMDebugString("CV: Createstream failed.\n");
        return false;
    }
    // The memory block goes with the stream's last reference: ours in owedSnapshots, and the
    // browser's while it writes. An earlier browser's answer, or one after stop, is dropped: its
    // snapshot was answered as failed, or given up on, when that browser was let go of. Snapshot
    // requests must resume whatever goes wrong in handing one over.
    auto handler = browserHandler<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, current.generation, "CV: error while handing a snapshot over",
        [ticket](HRESULT errorCode) { onSnapshotWritten(ticket, errorCode); },
        [ticket] { onBrowserSnapshot(ticket, false, PngBuffer{}); });
    if (!handler) return false;
    current.owedSnapshots.add(ticket) = stream;
    const HRESULT started =
        current.webView->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG, stream.Get(), handler.Get());
    if (SUCCEEDED(started)) {
        refusedLine.clear();
        return true;
    }
    // Refused at once: the handler is never called, so nothing is owed.
    current.owedSnapshots.settle(ticket);
    if (refusedLine.due())
        debugLog("CV: WebView2 refused a snapshot (%s); the panel keeps its last picture.\n", hex(started).c_str());
    snapshotRefused(current);
    return false;
}

bool startBrowserCheck(CaptureTicket ticket) {
    if (!browserViewReady()) return false;
    WebView2Browser& current = *browser;
    // Owed without a stream: its answer hands nothing to the decoder.
    current.owedSnapshots.add(ticket);
    const HRESULT sent =
        callDevTools(current, devtools::pageCheck(), [ticket](HRESULT result) { onSnapshotWritten(ticket, result); });
    if (SUCCEEDED(sent)) return true;
    current.owedSnapshots.settle(ticket);
    snapshotRefused(current);
    return false;
}

void browserSnapshotTimedOut(CaptureTicket ticket) {
    guarded("CV: browser backend error", [ticket] {
        if (!browser || !browser->owedSnapshots.settle(ticket)) return;
        // What the snapshot costs us goes now, whether or not the browser ever answers; its
        // ticket stays so that its late answer is told apart.
        browser->snapshotsGivenUp.insert(ticket);
        snapshotLost(*browser, HangWatch::line);
    });
}
