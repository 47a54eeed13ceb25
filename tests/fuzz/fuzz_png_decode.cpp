// Snapshot bytes from the browser, whatever they hold, through the decode step of the decode
// thread: it either refuses them and leaves its outputs alone, or yields a frame of exactly
// the size the PNG header declares, width * height * 4 bytes, within the size cap.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "pipeline/decoder.h"

namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The size an IHDR chunk declares: the first one met walking the chunks after the signature
// (libpng passes over ancillary chunks it does not know, even ahead of IHDR).
bool headerSize(const std::uint8_t* data, std::size_t size, std::uint32_t& width, std::uint32_t& height) {
    std::size_t at = 8;
    while (at + 8 <= size) {
        const std::uint64_t length = bigEndian32(data + at);
        if (std::memcmp(data + at + 4, "IHDR", 4) == 0) {
            if (length < 8 || at + 16 > size) return false;
            width = bigEndian32(data + at + 8);
            height = bigEndian32(data + at + 12);
            return true;
        }
        at += 12 + length;  // length, type, data, CRC
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> untouched = {1, 2, 3};
    std::vector<std::uint8_t> pixels = untouched;
    std::uint32_t width = 77, height = 55;
    if (!decodeSnapshot(PngBuffer(std::vector<std::uint8_t>(data, data + size)), pixels, width, height)) {
        FUZZ_CHECK(pixels == untouched && width == 77 && height == 55, "a refused snapshot changed the outputs");
        return 0;
    }
    std::uint32_t declaredWidth = 0, declaredHeight = 0;
    FUZZ_CHECK(headerSize(data, size, declaredWidth, declaredHeight), "decoded something without an IHDR header");
    FUZZ_CHECK(width == declaredWidth && height == declaredHeight, "the decoded size is not the header's");
    FUZZ_CHECK(width > 0 && height > 0 && width <= 16384 && height <= 16384, "a size beyond the cap was decoded");
    FUZZ_CHECK(pixels.size() == std::size_t{width} * height * 4, "the frame is not width * height * 4 bytes");
    FUZZ_CHECK(pixels.size() <= 256u * 1024 * 1024, "a frame beyond the cap was decoded");
    return 0;
}
