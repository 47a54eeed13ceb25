#include "pipeline/decode_worker.h"

#include <mutex>
#include <utility>

#include "pipeline/decoder.h"
#include "pipeline/frame.h"

std::uint64_t frameSerial = 0;

void processPngBuffer(const PngBuffer& buffer, std::vector<std::uint8_t>& oldPixels) {
    if (buffer.empty()) return;
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0, height = 0;
    if (!decodeSnapshot(buffer, pixels, width, height)) return;

    std::lock_guard<std::mutex> lock(frameMutex);
    framePixels.swap(pixels);
    ++frameSerial;
    pageWidth.store(static_cast<int>(width));
    pageHeight.store(static_cast<int>(height));
    oldPixels.swap(pixels);
}

void DecodeThreadMain() {
    const bool entered = enterDecoderThread();
    std::unique_lock<std::mutex> lock(queueMutex);
    for (;;) {
        queueCondition.wait(lock, [] { return stopDecoder.load() || !pngQueue.empty(); });
        if (stopDecoder.load() && pngQueue.empty()) break;

        PngBuffer buffer = std::move(pngQueue.front());
        pngQueue.pop_front();
        lock.unlock();

        std::vector<std::uint8_t> oldPixels;
        try {
            processPngBuffer(buffer, oldPixels);
        } catch (...) {
            // Out of memory for one picture: drop it like any other bad snapshot. The
            // simulator's log may only be written from its main thread, so nothing is logged.
        }
        frameUpdated.store(true);

        // The replaced frame and the PNG bytes are freed here, outside both locks.
        oldPixels = std::vector<std::uint8_t>();
        buffer = PngBuffer();
        lock.lock();
    }
    lock.unlock();
    leaveDecoderThread(entered);
}

void startDecodeThread() {
    stopDecoder.store(false);
    decodeThread = std::thread(DecodeThreadMain);
}

void stopDecodeThread() {
    stopDecoder.store(true);
    // Passing through the mutex orders the flag before a waiter's predicate check, so a thread
    // about to wait sees either the flag or the notification.
    { std::lock_guard<std::mutex> pass(queueMutex); }
    queueCondition.notify_all();
    if (decodeThread.joinable()) decodeThread.join();
}
