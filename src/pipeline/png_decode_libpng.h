#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Linux's decode step: PNG bytes to BGRA, straight alpha, top row first, stride width * 4.
// False, with the outputs untouched, for empty, damaged or truncated data, a 0 width or
// height, or a declared size beyond 16384 pixels a side or 256 MiB of pixels.
bool DecodePng(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
               std::uint32_t& height);
