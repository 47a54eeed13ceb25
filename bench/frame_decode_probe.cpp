// frame_decode_probe: one screencast frame (PNG or JPEG) decoded to 8-bit BGRA as the Linux
// decoder does, with bare libpng or libjpeg-turbo, timed over 30 runs; given a PNG snapshot of
// the same page, also the frame's fidelity to it: mean absolute error and PSNR over all pixels
// and over the text (pixels within two of an edge in the snapshot). Prints one JSON object.
// Not a test: bench/screencast_formats.py runs it (scripts/bench).
//
//   frame_decode_probe REFERENCE.png|"" FRAME
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <png.h>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

struct Picture {
    unsigned width = 0, height = 0;
    Bytes bgra;
};

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Picture decodePng(const Bytes& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) throw std::runtime_error("not a PNG");
    image.format = PNG_FORMAT_BGRA;
    Picture p{image.width, image.height, Bytes(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, p.bgra.data(), 0, nullptr)) throw std::runtime_error(image.message);
    return p;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

Picture decodeJpeg(const Bytes& bytes) {
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    Picture p;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        throw std::runtime_error("not a JPEG");
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;  // libjpeg-turbo's extension: no conversion pass of ours
    jpeg_start_decompress(&info);
    p.width = info.output_width;
    p.height = info.output_height;
    p.bgra.resize(static_cast<std::size_t>(p.width) * p.height * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = p.bgra.data() + static_cast<std::size_t>(info.output_scanline) * p.width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return p;
}

Picture decode(const Bytes& bytes) {
    if (bytes.size() > 8 && bytes[0] == 0x89 && bytes[1] == 'P') return decodePng(bytes);
    return decodeJpeg(bytes);
}

// The text's pixels: those within two pixels of a place where the snapshot's luma steps by more
// than 32 to its right or lower neighbour.
std::vector<bool> textMask(const Picture& p) {
    auto luma = [&](unsigned x, unsigned y) {
        const unsigned char* q = &p.bgra[(static_cast<std::size_t>(y) * p.width + x) * 4];
        return (q[0] * 29 + q[1] * 150 + q[2] * 77) >> 8;
    };
    std::vector<bool> mask(static_cast<std::size_t>(p.width) * p.height);
    for (unsigned y = 0; y + 1 < p.height; ++y) {
        for (unsigned x = 0; x + 1 < p.width; ++x) {
            const int here = luma(x, y);
            if (std::abs(here - luma(x + 1, y)) <= 32 && std::abs(here - luma(x, y + 1)) <= 32) continue;
            for (unsigned yy = y > 2 ? y - 2 : 0; yy <= std::min(y + 2, p.height - 1); ++yy)
                for (unsigned xx = x > 2 ? x - 2 : 0; xx <= std::min(x + 2, p.width - 1); ++xx)
                    mask[static_cast<std::size_t>(yy) * p.width + xx] = true;
        }
    }
    return mask;
}

struct Error {
    double mae, psnr;
};

Error compare(const Picture& a, const Picture& b, const std::vector<bool>* only) {
    double absolute = 0, squared = 0;
    std::size_t samples = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(a.width) * a.height; ++i) {
        if (only != nullptr && !(*only)[i]) continue;
        for (int c = 0; c < 3; ++c) {
            const double d = double(a.bgra[i * 4 + c]) - double(b.bgra[i * 4 + c]);
            absolute += std::fabs(d);
            squared += d * d;
        }
        samples += 3;
    }
    const double mse = samples ? squared / samples : 0;
    return {samples ? absolute / samples : 0, mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: frame_decode_probe REFERENCE.png|\"\" FRAME\n");
        return 64;
    }
    try {
        const Bytes frame = readFile(argv[2]);
        std::vector<double> millis;
        Picture picture;
        for (int i = 0; i < 30; ++i) {
            const auto start = Clock::now();
            picture = decode(frame);
            millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::sort(millis.begin(), millis.end());
        std::printf("{\"bytes\": %zu, \"width\": %u, \"height\": %u, \"decode_ms_median\": %.3f", frame.size(),
                    picture.width, picture.height, millis[millis.size() / 2]);
        if (argv[1][0] != '\0') {
            const Picture reference = decodePng(readFile(argv[1]));
            if (reference.width != picture.width || reference.height != picture.height)
                throw std::runtime_error("the frame and the snapshot differ in size");
            const std::vector<bool> text = textMask(reference);
            const Error all = compare(reference, picture, nullptr), inText = compare(reference, picture, &text);
            std::printf(", \"mae\": %.3f, \"psnr_db\": %.2f, \"text_mae\": %.3f, \"text_psnr_db\": %.2f, "
                        "\"text_share\": %.3f",
                        all.mae, all.psnr, inText.mae, inText.psnr,
                        double(std::count(text.begin(), text.end(), true)) / double(text.size()));
        }
        std::printf("}\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "frame_decode_probe: %s\n", e.what());
        return 1;
    }
    return 0;
}
