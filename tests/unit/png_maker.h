#pragma once

#include <cstdint>
#include <vector>

// An 8-bit PNG made with libpng: RGBA pixels (top row first), or all-black greyscale of the
// given size when `rgba` is empty.
std::vector<std::uint8_t> makePng(std::uint32_t width, std::uint32_t height,
                                  const std::vector<std::uint8_t>& rgba = {});

// A baseline JPEG made with libjpeg at quality 95: RGB pixels, top row first.
std::vector<std::uint8_t> makeJpeg(int width, int height, const std::vector<std::uint8_t>& rgb);
