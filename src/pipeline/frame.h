#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The newest decoded snapshot: BGRA, straight alpha, top row first, stride pageWidth * 4.
// The decode thread publishes under frameMutex and then raises frameUpdated; main-thread
// code that needs only the page size loads pageWidth/pageHeight without the lock.
extern std::vector<std::uint8_t> framePixels;
extern std::atomic<int> pageWidth;
extern std::atomic<int> pageHeight;
extern std::mutex frameMutex;
extern std::atomic<bool> frameUpdated;
