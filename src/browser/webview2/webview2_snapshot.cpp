// PNG snapshots: CapturePreview into a fresh memory stream, and on completion the copy of
// the stream's memory block that goes to the decode queue.
#include <cstdint>
#include <utility>

#include "browser/browser.h"
#include "browser/webview2/webview2_state.h"
#include "pipeline/capture.h"
#include "platform/com_callback.h"
#include "platform/xplm.h"

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

HRESULT onSnapshotWritten(CaptureTicket ticket, HRESULT errorCode, IStream* stream) {
    if (!browserRunning) return S_OK;
    PngBuffer snapshot;
    if (SUCCEEDED(errorCode)) snapshot = copySnapshotBlock(stream);
    const bool succeeded = !snapshot.empty();
    onBrowserSnapshot(ticket, succeeded, std::move(snapshot));
    return S_OK;
}

}  // namespace

bool startBrowserSnapshot(CaptureTicket ticket) {
    if (!webView) return false;
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()))) {
        XPLMDebugString("CV: Createstream failed.\n");
        return false;
    }
    // The handler keeps its own reference to the stream until the browser lets it go; the
    // memory block goes with the stream's last reference.
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [stream, ticket](HRESULT errorCode) {
            try {
                return onSnapshotWritten(ticket, errorCode, stream.Get());
            } catch (...) {
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
    return SUCCEEDED(webView->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG, stream.Get(),
                                             handler.Get()));
}

// Nothing to do on Windows: WebView2 runs its browser process itself, and a completion that
// still comes is dropped by the capture schedule.
void browserSnapshotTimedOut(CaptureTicket) {}
