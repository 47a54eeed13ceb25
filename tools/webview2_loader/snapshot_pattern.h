// The picture the stand-in browser serves as every snapshot: a grey page with a solid square
// of its own colour in each corner, so a test can tell whether the picture arrived whole,
// upright and unmirrored, and a row of white (1) and black (0) squares along the top edge
// that spells the picture's serial number, lowest bit first, so a test can tell a fresh
// picture from the last one. Shared by the stand-in (which encodes it) and the tests (which
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

// The serial's row: kSerialBits squares of kSerialSquare pixels from (kSerialLeft, kSerialTop).
constexpr int kSerialBits = 16;
constexpr int kSerialSquare = 16;
constexpr int kSerialLeft = 48;
constexpr int kSerialTop = 8;
constexpr Rgb kOne{0xFF, 0xFF, 0xFF};
constexpr Rgb kZero{0x00, 0x00, 0x00};

// What a page whose process crashed shows instead: the browser's error page, plain, no marks.
constexpr Rgb kErrorPage{0xE0, 0xE0, 0xE0};

// The colour at page pixel (x, y), top-left origin, of the picture numbered `serial`.
inline Rgb colourAt(int x, int y, int width, int height, unsigned serial) {
    const bool left = x < kMarkSize, right = x >= width - kMarkSize;
    const bool top = y < kMarkSize, bottom = y >= height - kMarkSize;
    if (top && left) return kTopLeft;
    if (top && right) return kTopRight;
    if (bottom && left) return kBottomLeft;
    if (bottom && right) return kBottomRight;
    const int bit = (x - kSerialLeft) / kSerialSquare;
    if (x >= kSerialLeft && bit < kSerialBits && y >= kSerialTop && y < kSerialTop + kSerialSquare)
        return (serial >> bit) & 1u ? kOne : kZero;
    return kBackground;
}

// The centre of the square of serial bit `bit`, where a test reads it.
inline int serialBitX(int bit) { return kSerialLeft + bit * kSerialSquare + kSerialSquare / 2; }
constexpr int kSerialY = kSerialTop + kSerialSquare / 2;

// A whole picture as BGRA, opaque, rows top first: the page numbered `serial`, or the error
// page.
inline std::vector<std::uint8_t> bgra(int width, int height, unsigned serial, bool errorPage = false) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = errorPage ? kErrorPage : colourAt(x, y, width, height, serial);
            pixels[i++] = c.b;
            pixels[i++] = c.g;
            pixels[i++] = c.r;
            pixels[i++] = 0xFF;
        }
    }
    return pixels;
}

}  // namespace snapshot_pattern
