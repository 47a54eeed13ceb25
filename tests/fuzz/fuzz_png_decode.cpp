// Snapshot and frame bytes from the browser, whatever they hold, through the decode step of the
// decode thread: it either refuses them and leaves its outputs alone, or yields a frame of
// exactly the size the PNG or JPEG header declares, width * height * 4 bytes, within the cap.
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

// The size a JPEG's start-of-frame segment declares: the first one met walking the segments
// after the start-of-image marker as libjpeg does (the decoder refuses a frame it warned about).
bool jpegFrameSize(const std::uint8_t* data, std::size_t size, std::uint32_t& width, std::uint32_t& height) {
    std::size_t at = 2;
    while (at + 4 <= size) {
        // As libjpeg reads between segments: bytes other than a marker are skipped (it warns of
        // "extraneous bytes" and reads on), and so are 0xFF fill bytes before one.
        if (data[at] != 0xFF || data[at + 1] == 0xFF || data[at + 1] == 0x00) {
            ++at;
            continue;
        }
        const std::uint8_t marker = data[at + 1];
        // TEM and the restart markers stand alone, without a length.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = (std::size_t{data[at + 2]} << 8) | data[at + 3];
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (at + 9 > size) return false;
            height = (std::uint32_t{data[at + 5]} << 8) | data[at + 6];
            width = (std::uint32_t{data[at + 7]} << 8) | data[at + 8];
            return true;
        }
        at += 2 + length;
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
    const bool jpeg = size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
    FUZZ_CHECK(jpeg ? jpegFrameSize(data, size, declaredWidth, declaredHeight)
                    : headerSize(data, size, declaredWidth, declaredHeight),
               "decoded something without an IHDR header or a start of frame");
    FUZZ_CHECK(width == declaredWidth && height == declaredHeight, "the decoded size is not the header's");
    FUZZ_CHECK(width > 0 && height > 0 && width <= 16384 && height <= 16384, "a size beyond the cap was decoded");
    FUZZ_CHECK(pixels.size() == std::size_t{width} * height * 4, "the frame is not width * height * 4 bytes");
    FUZZ_CHECK(pixels.size() <= 256u * 1024 * 1024, "a frame beyond the cap was decoded");
    return 0;
}
