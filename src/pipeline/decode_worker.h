#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "browser/png_buffer.h"

// Snapshots on their way from the main thread to the decode thread, oldest first. Both sides
// touch pngQueue only under queueMutex; the producer notifies after unlocking.
extern std::deque<PngBuffer> pngQueue;
extern std::mutex queueMutex;
extern std::condition_variable queueCondition;
// Raised by shutdown; the decode thread ends once it is set and the queue is empty.
extern std::atomic<bool> stopDecoder;

extern std::thread decodeThread;

// The decode thread's body: takes snapshots oldest first, decodes them and publishes each
// good one as the shared frame. Returns once stop is requested and the queue is empty.
void DecodeThreadMain();

// Clears the stop flag and starts the thread. Throws std::system_error when the thread
// cannot be created.
void startDecodeThread();
// Raises the stop flag, wakes the thread and joins it; snapshots still queued are decoded
// first. Does nothing when no thread runs.
void stopDecodeThread();

// Decodes one snapshot and, when it is a good picture, swaps it into the shared frame. The
// frame it replaces is handed back in oldPixels so it can be freed outside the lock.
void processPngBuffer(const PngBuffer& buffer, std::vector<std::uint8_t>& oldPixels);
