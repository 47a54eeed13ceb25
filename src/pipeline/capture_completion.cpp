#include "pipeline/capture_completion.h"

#include <mutex>
#include <utility>

#include "pipeline/capture.h"
#include "pipeline/decode_queue.h"
#include "plugin/log.h"

void OnCaptureCompleted(bool succeeded, PngBuffer snapshot) {
    guarded("CV: could not queue a snapshot", [&] {
        if (succeeded && !snapshot.empty()) {
            {
                std::lock_guard<std::mutex> lock(queueMutex);
                pngQueue.push_back(std::move(snapshot));
            }
            queueCondition.notify_one();
        }
    });
    // Every completion, good or bad, lets the next due check ask for a new snapshot.
    captureInFlight.store(false);
}

bool decodeBacklog() {
    std::lock_guard<std::mutex> lock(queueMutex);
    return !pngQueue.empty();
}
