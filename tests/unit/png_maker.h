#pragma once

#include <cstdint>
#include <vector>

// PNG files made in the test, with libpng and zlib.

// An 8-bit RGBA PNG of the given pixels (R, G, B, A per pixel, top row first).
std::vector<std::uint8_t> makeRgbaPng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba);

// A valid 8-bit greyscale PNG of the given size, every pixel black, written chunk by chunk so
// that huge sizes cost little memory here.
std::vector<std::uint8_t> makeBlackGreyPng(std::uint32_t width, std::uint32_t height);
