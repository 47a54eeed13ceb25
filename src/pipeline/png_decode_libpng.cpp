// PNG snapshots to BGRA with libpng's simplified API: straight alpha, top row first.
#include <png.h>

#include <cstdint>
#include <vector>

#include "pipeline/decoder.h"

namespace {

// Snapshots are the page's size; a header that claims more than this cannot be a snapshot we
// asked for, and is refused before any pixel memory is reserved for it.
constexpr std::uint32_t maxDimension = 16384;
constexpr std::uint64_t maxPixelBytes = 256ull * 1024 * 1024;

// Frees the reader's state on every way out.
struct ImageReader {
    png_image image{};
    ImageReader() { image.version = PNG_IMAGE_VERSION; }
    ~ImageReader() { png_image_free(&image); }
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;
};

}  // namespace

bool enterDecoderThread() { return true; }
void leaveDecoderThread(bool) {}

bool decodeSnapshot(const PngBuffer& snapshot, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                    std::uint32_t& height) {
    if (snapshot.empty()) return false;
    ImageReader reader;
    if (png_image_begin_read_from_memory(&reader.image, snapshot.bytes.data(), snapshot.size()) == 0) return false;

    const std::uint32_t w = reader.image.width;
    const std::uint32_t h = reader.image.height;
    if (w == 0 || h == 0 || w > maxDimension || h > maxDimension) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(w) * h * 4;
    if (bytes > maxPixelBytes) return false;

    reader.image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> decoded(static_cast<std::size_t>(bytes));
    if (png_image_finish_read(&reader.image, nullptr, decoded.data(), static_cast<png_int_32>(w * 4), nullptr) == 0)
        return false;

    pixels.swap(decoded);
    width = w;
    height = h;
    return true;
}
