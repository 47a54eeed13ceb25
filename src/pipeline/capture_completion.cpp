#include "pipeline/capture_completion.h"

#include <mutex>
#include <utility>

#include "pipeline/capture.h"
#include "pipeline/decode_queue.h"
#include "platform/xplm.h"

void OnCaptureCompleted(bool succeeded, PngBuffer snapshot)
{
    try {
        if (succeeded && !snapshot.empty()) {
            {
                std::lock_guard<std::mutex> lock(queueMutex);
                pngQueue.push_back(std::move(snapshot));
            }
            queueCondition.notify_one();
        }
    } catch (...) {
        XPLMDebugString("CV: could not queue a snapshot\n");
    }
    // Every completion, good or bad, lets the next due check ask for a new snapshot.
    captureInFlight.store(false);
}

bool decodeBacklog()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return !pngQueue.empty();
}
