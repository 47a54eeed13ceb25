// The picture the stand-in browser serves as every snapshot: a grey page with a solid square
// of its own colour in each corner, so a test can tell whether the picture arrived whole,
// upright and unmirrored. Shared by the stand-in (which encodes it) and the tests (which
// look for it in screenshots and decoded frames).
#pragma once

#include <cstdint>
#include <vector>

namespace snapshot_pattern {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr int kMarkSize = 32;  // pixels, square
constexpr Rgb kBackground{0x60, 0x60, 0x60};
constexpr Rgb kTopLeft{0xFF, 0x00, 0x00};
constexpr Rgb kTopRight{0x00, 0xFF, 0x00};
constexpr Rgb kBottomLeft{0x00, 0x00, 0xFF};
constexpr Rgb kBottomRight{0xFF, 0xFF, 0x00};

// The colour at page pixel (x, y), top-left origin.
inline Rgb colourAt(int x, int y, int width, int height) {
    const bool left = x < kMarkSize, right = x >= width - kMarkSize;
    const bool top = y < kMarkSize, bottom = y >= height - kMarkSize;
    if (top && left) return kTopLeft;
    if (top && right) return kTopRight;
    if (bottom && left) return kBottomLeft;
    if (bottom && right) return kBottomRight;
    return kBackground;
}

// The whole picture as BGRA, opaque, rows top first.
inline std::vector<std::uint8_t> bgra(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y, width, height);
            pixels[i++] = c.b;
            pixels[i++] = c.g;
            pixels[i++] = c.r;
            pixels[i++] = 0xFF;
        }
    }
    return pixels;
}

}  // namespace snapshot_pattern
