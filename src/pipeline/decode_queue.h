#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "browser/png_buffer.h"

// Snapshots on their way from the main thread to the decode thread, oldest first. Both sides
// touch pngQueue only under queueMutex; the producer notifies after unlocking.
extern std::deque<PngBuffer> pngQueue;
extern std::mutex queueMutex;
extern std::condition_variable queueCondition;
// Raised by shutdown; the decode thread ends once it is set and the queue is empty.
extern std::atomic<bool> stopDecoder;
