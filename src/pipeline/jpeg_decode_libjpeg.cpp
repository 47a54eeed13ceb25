// JPEG frames to BGRA with libjpeg-turbo, whose colour converter writes the panel's byte order
// straight into the frame (JCS_EXT_BGRA).
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include "pipeline/decoder.h"
#include "pipeline/jpeg_decode.h"

namespace {

// libjpeg reports a fatal error by calling error_exit, which by default ends the process; ours
// jumps back to the call that started the step. Only C frames of the library lie in between,
// and nothing the jump skips owns anything.
struct JpegError {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

[[noreturn]] void jumpBack(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
// Warnings (damaged data the library works around) are counted, and messages go nowhere: the
// decode thread may not write the simulator's log, and stderr is not ours.
void countWarning(j_common_ptr info, int level) {
    if (level < 0) ++info->err->num_warnings;
}
void keepQuiet(j_common_ptr) {}
void noText(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void resetErrors(j_common_ptr info) {
    info->err->num_warnings = 0;
    info->err->msg_code = 0;
}

// The decompressor and its error handler; the state is freed on every way out. The handler is
// ours entirely rather than jpeg_std_error's: that one's object reaches stderr in a way that
// cannot be linked into a shared module.
struct JpegReader {
    jpeg_decompress_struct info{};
    JpegError error;
    JpegReader() {
        error.manager.error_exit = jumpBack;
        error.manager.emit_message = countWarning;
        error.manager.output_message = keepQuiet;
        error.manager.format_message = noText;
        error.manager.reset_error_mgr = resetErrors;
        info.err = &error.manager;
    }
    ~JpegReader() { jpeg_destroy_decompress(&info); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;
};

bool readHeader(JpegReader& reader, const std::uint8_t* data, std::size_t size) {
    if (setjmp(reader.error.jump) != 0) return false;
    jpeg_create_decompress(&reader.info);
    jpeg_mem_src(&reader.info, data, static_cast<unsigned long>(size));
    return jpeg_read_header(&reader.info, TRUE) == JPEG_HEADER_OK;
}

// Rows straight into `out` (stride width * 4). A stream that ends early or is damaged makes
// libjpeg warn and fill in grey; such a frame is refused rather than shown.
bool readPixels(JpegReader& reader, std::uint8_t* out, std::size_t stride) {
    if (setjmp(reader.error.jump) != 0) return false;
    reader.info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&reader.info);
    while (reader.info.output_scanline < reader.info.output_height) {
        JSAMPROW row = out + static_cast<std::size_t>(reader.info.output_scanline) * stride;
        if (jpeg_read_scanlines(&reader.info, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(&reader.info);
    return reader.error.manager.num_warnings == 0;
}

}  // namespace

bool looksLikeJpeg(const std::uint8_t* data, std::size_t size) {
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool decodeJpeg(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& pixels, std::uint32_t& width,
                std::uint32_t& height) {
    if (!looksLikeJpeg(data, size)) return false;
    JpegReader reader;
    if (!readHeader(reader, data, size)) return false;
    const std::uint32_t w = reader.info.image_width;
    const std::uint32_t h = reader.info.image_height;
    if (w == 0 || h == 0 || w > maxSnapshotSide || h > maxSnapshotSide) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(w) * h * 4;
    if (bytes > maxSnapshotBytes) return false;

    std::vector<std::uint8_t> decoded(static_cast<std::size_t>(bytes));
    if (!readPixels(reader, decoded.data(), static_cast<std::size_t>(w) * 4)) return false;
    // Scaling is never asked for, so the output is the header's size; checked all the same.
    if (reader.info.output_width != w || reader.info.output_height != h) return false;
    pixels.swap(decoded);
    width = w;
    height = h;
    return true;
}
