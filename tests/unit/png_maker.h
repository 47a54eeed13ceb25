#pragma once

#include <cstdint>
#include <vector>

// An 8-bit PNG made with libpng: RGBA pixels (top row first), or all-black greyscale of the
// given size when `rgba` is empty.
std::vector<std::uint8_t> makePng(std::uint32_t width, std::uint32_t height,
                                  const std::vector<std::uint8_t>& rgba = {});
