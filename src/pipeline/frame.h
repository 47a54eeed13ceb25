#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "browser/browser.h"

// The newest decoded snapshot: BGRA, straight alpha, top row first, stride pageWidth * 4
// (browser/browser.h). The decode thread publishes under frameMutex and then raises
// frameUpdated; it raises the flag after a snapshot that failed to decode too.
extern std::vector<std::uint8_t> framePixels;
// Counts the frames published into framePixels (under frameMutex), so the draw callback takes
// a frame only once: what it swaps back into framePixels is an older picture, never to be
// shown again.
extern std::uint64_t frameSerial;
extern std::mutex frameMutex;
extern std::atomic<bool> frameUpdated;
