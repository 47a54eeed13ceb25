#include "png_maker.h"

#include <png.h>
#include <zlib.h>

#include <stdexcept>
#include <string>

std::vector<std::uint8_t> makeRgbaPng(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr))
        throw std::runtime_error(image.message);
    std::vector<std::uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr))
        throw std::runtime_error(image.message);
    out.resize(size);
    return out;
}

namespace {

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data)
{
    putU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putU32(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

}  // namespace

std::vector<std::uint8_t> makeBlackGreyPng(std::uint32_t width, std::uint32_t height)
{
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    std::vector<std::uint8_t> header;
    putU32(header, width);
    putU32(header, height);
    header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit greyscale, no interlace
    putChunk(png, "IHDR", header);

    // Each row is a filter byte followed by width zero samples: all zeros, compressed as a
    // stream so only one row is held at a time.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) + 1, 0);
    std::vector<std::uint8_t> compressed;
    z_stream z{};
    if (deflateInit(&z, 1) != Z_OK) throw std::runtime_error("deflateInit");
    std::uint8_t buffer[65536];
    for (std::uint32_t y = 0; y <= height; ++y) {
        const bool last = y == height;
        z.next_in = last ? nullptr : row.data();
        z.avail_in = last ? 0 : static_cast<uInt>(row.size());
        int result;
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.insert(compressed.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        } while (z.avail_out == 0 || (last && result != Z_STREAM_END));
    }
    deflateEnd(&z);
    putChunk(png, "IDAT", compressed);
    putChunk(png, "IEND", {});
    return png;
}
