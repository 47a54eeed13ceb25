#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "browser/browser.h"

// The newest decoded snapshot: BGRA, straight alpha, top row first, stride pageWidth * 4
// (browser/browser.h). The decode thread publishes under frameMutex and then raises
// frameUpdated.
extern std::vector<std::uint8_t> framePixels;
extern std::mutex frameMutex;
extern std::atomic<bool> frameUpdated;
