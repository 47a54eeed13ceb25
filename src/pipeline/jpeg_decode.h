// JPEG frames to BGRA on Linux (libjpeg-turbo); the PNG decoder hands them over by their
// signature. Windows' decoder reads both formats itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes begin as a JPEG stream does (the start-of-image marker).
bool looksLikeJpeg(const std::uint8_t* data, std::size_t size);

// As decodeSnapshot (pipeline/decoder.h), for a JPEG: BGRA with opaque alpha, top row first,
// within the same size bounds; false with the outputs untouched for anything else, a truncated
// or damaged stream included.
bool decodeJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                std::uint32_t& height);
