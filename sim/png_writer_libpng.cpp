#include "png_writer.h"

#include <png.h>

#include <cstring>

namespace xpsim {

bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height,
              std::string& error) {
    if (width <= 0 || height <= 0 || rgba.size() != static_cast<std::size_t>(width) * height * 4) {
        error = "no pixels to write";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr)) {
        error = std::string("cannot write ") + path + ": " + image.message;
        return false;
    }
    return true;
}

}  // namespace xpsim
