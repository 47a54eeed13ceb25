// Snapshots and frames to BGRA: PNG with libpng's simplified API (straight alpha, top row
// first), JPEG handed to the libjpeg-turbo decoder.
#include <png.h>

#include <cstdint>
#include <vector>

#include "pipeline/decoder.h"
#include "pipeline/jpeg_decode.h"

namespace {

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
    if (looksLikeJpeg(snapshot.bytes.data(), snapshot.size()))
        return decodeJpeg(snapshot.bytes.data(), snapshot.size(), pixels, width, height);
    ImageReader reader;
    if (png_image_begin_read_from_memory(&reader.image, snapshot.bytes.data(), snapshot.size()) == 0) return false;

    const std::uint32_t w = reader.image.width;
    const std::uint32_t h = reader.image.height;
    if (w == 0 || h == 0 || w > maxSnapshotSide || h > maxSnapshotSide) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(w) * h * 4;
    if (bytes > maxSnapshotBytes) return false;

    reader.image.format = PNG_FORMAT_BGRA;
    std::vector<std::uint8_t> decoded(static_cast<std::size_t>(bytes));
    if (png_image_finish_read(&reader.image, nullptr, decoded.data(), static_cast<png_int_32>(w * 4), nullptr) == 0)
        return false;

    pixels.swap(decoded);
    width = w;
    height = h;
    return true;
}
