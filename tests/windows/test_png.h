// Builds PNG files byte by byte (stored deflate blocks, no compression), so the decoder is
// checked against images that did not come out of the same imaging library.
#pragma once

#include <cstdint>
#include <vector>

namespace test_png {

enum class Colour { rgb, rgba };

// `pixels` holds width * height pixels, 3 or 4 bytes each, rows top first.
std::vector<std::uint8_t> encode(int width, int height, Colour colour, const std::vector<std::uint8_t>& pixels);

}  // namespace test_png
