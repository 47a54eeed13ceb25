// The host's paths are UTF-8 text on every platform. A file stream given a plain std::string
// would read it in the ANSI code page on Windows, which cannot spell every folder name; this
// hands it over as UTF-8 (UTF-16 underneath on Windows, the same bytes on Linux).
#pragma once

#include <filesystem>
#include <string>

namespace xpsim {

inline std::filesystem::path utf8Path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace xpsim
