#include "png_maker.h"

#include <png.h>

#include <stdexcept>

std::vector<std::uint8_t> makePng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = rgba.empty() ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
    const std::vector<std::uint8_t> black(rgba.empty() ? static_cast<std::size_t>(width) * height : 0, 0);
    const void* pixels = rgba.empty() ? black.data() : rgba.data();
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr);
    std::vector<std::uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, nullptr))
        throw std::runtime_error(image.message);
    out.resize(size);
    return out;
}
