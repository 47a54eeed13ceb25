#pragma once

#include <cstdint>

inline constexpr int dialogGlyphWidth = 8;
inline constexpr int dialogGlyphHeight = 16;

// The rows of a character's glyph, top first, the leftmost pixel the top bit of each row. A
// character the font lacks is drawn as '?'.
const std::uint8_t* dialogGlyph(char32_t c);
