// Writes 8-bit RGBA pixels, rows top first, as a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xpsim {
bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height,
              std::string& error);
}
