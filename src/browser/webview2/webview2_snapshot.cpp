// PNG snapshots: CapturePreview into a fresh memory stream, and on completion the copy of
// the stream's memory block that goes to the decode queue.
#include <cstdint>
#include <map>
#include <utility>

#include "browser/browser.h"
#include "browser/webview2/webview2_state.h"
#include "pipeline/capture.h"
#include "platform/com_callback.h"
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

// Our references to the streams of the snapshots the browser still owes, by ticket. The
// handler holds only the ticket, so what a snapshot costs is let go as soon as its answer comes
// (late or not) or at stop, even if the browser never lets go of the handler.
std::map<CaptureTicket, ComPtr<IStream>> owedSnapshots;

// A view whose browser process has gone refuses every snapshot at once, twice a second, and
// the panel keeps its last picture: told when it starts, then once a minute.
RepeatingLine refusedLine;

HRESULT onSnapshotWritten(BrowserSession session, CaptureTicket ticket, HRESULT errorCode) {
    if (session != browserSession) return S_OK;  // after stop: its stream went then
    const auto owed = owedSnapshots.find(ticket);
    if (owed == owedSnapshots.end()) return S_OK;
    const ComPtr<IStream> stream = std::move(owed->second);
    owedSnapshots.erase(owed);
    PngBuffer snapshot;
    if (SUCCEEDED(errorCode)) snapshot = copySnapshotBlock(stream.Get());
    const bool succeeded = !snapshot.empty();
    onBrowserSnapshot(ticket, succeeded, std::move(snapshot));
    return S_OK;
}

}  // namespace

void releaseOwedSnapshots() { owedSnapshots.clear(); }

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (!webView) return false;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()))) {
        XPLMDebugString("CV: Createstream failed.\n");
        return false;
    }
    // The memory block goes with the stream's last reference: ours in owedSnapshots, and the
    // browser's while it writes.
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [session = browserSession, ticket](HRESULT errorCode) {
            try {
                return onSnapshotWritten(session, ticket, errorCode);
            } catch (...) {
                if (session != browserSession) return S_OK;
                XPLMDebugString("CV: error while handing a snapshot over\n");
                // Snapshot requests must resume whatever went wrong above.
                try {
                    onBrowserSnapshot(ticket, false, PngBuffer{});
                } catch (...) {
                }
                return S_OK;
            }
        });
    if (!handler) return false;
    owedSnapshots[ticket] = stream;
    const HRESULT started =
        webView->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG, stream.Get(), handler.Get());
    if (SUCCEEDED(started)) {
        refusedLine.clear();
        return true;
    }
    // Refused at once: the handler is never called, so nothing is owed.
    owedSnapshots.erase(ticket);
    if (refusedLine.due())
        debugLog("CV: WebView2 refused a snapshot (0x%08lX); the panel keeps its last picture.\n",
                 static_cast<unsigned long>(started));
    return false;
}

// Nothing to do on Windows: WebView2 runs its browser process itself, and a completion that
// still comes is dropped by the capture schedule.
void browserSnapshotTimedOut(CaptureTicket) {}
