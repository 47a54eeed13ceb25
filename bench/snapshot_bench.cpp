// Cost of one snapshot's way from the DevTools pipe to the shared frame: base64 decoding on
// the backend's I/O thread, PNG decoding on the decode thread, and the draw callback's copy
// of a frame. Sizes are the panel's 768 x 512.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_wire.h"
#include "pipeline/decoder.h"

namespace {

constexpr std::uint32_t kWidth = 768;
constexpr std::uint32_t kHeight = 512;

// A page-like picture: flat panels, a few bands of "text", and a gradient, so the PNG
// compresses about as well as a real snapshot does.
std::vector<std::uint8_t> pageLikePng() {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * kWidth + x) * 4];
            const bool text = (y / 12) % 3 == 1 && ((x * 7 + y * 13) % 11) < 4 && x > 40 && x < 700;
            p[0] = text ? 20 : static_cast<std::uint8_t>(30 + y / 8);
            p[1] = text ? 20 : static_cast<std::uint8_t>(60 + x / 12);
            p[2] = text ? 20 : 120;
            p[3] = 255;
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::vector<std::uint8_t> out(size);
    png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr);
    out.resize(size);
    return out;
}

std::string toBase64(const std::vector<std::uint8_t>& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t n = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= bytes[i + 2];
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

void BM_DecodeSnapshot(benchmark::State& state) {
    const PngBuffer snapshot(pageLikePng());
    std::vector<std::uint8_t> pixels;
    std::uint32_t width = 0, height = 0;
    for (auto _ : state) {
        if (!decodeSnapshot(snapshot, pixels, width, height)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 4);
    state.counters["png_bytes"] = static_cast<double>(snapshot.size());
}
BENCHMARK(BM_DecodeSnapshot)->Unit(benchmark::kMillisecond);

void BM_Base64Snapshot(benchmark::State& state) {
    const std::string text = toBase64(pageLikePng());
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        if (!cdp::decodeBase64(text, out)) state.SkipWithError("base64 failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Base64Snapshot)->Unit(benchmark::kMicrosecond);

// The whole of a snapshot's reply on the I/O thread: the DevTools message parsed as JSON, then
// its base64 decoded, as the connection handles it.
void BM_SnapshotReply(benchmark::State& state) {
    const std::string message = R"({"id":7,"result":{"data":")" + toBase64(pageLikePng()) + R"("},"sessionId":"S"})";
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        const nlohmann::json parsed = nlohmann::json::parse(message);
        if (!cdp::decodeBase64(parsed["result"]["data"].get_ref<const std::string&>(), out))
            state.SkipWithError("base64 failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(BM_SnapshotReply)->Unit(benchmark::kMicrosecond);

// What the draw callback does on the main thread when a new frame is flagged: one copy of
// the frame into its own buffer, which keeps its capacity between frames.
void BM_FrameCopy(benchmark::State& state) {
    const std::vector<std::uint8_t> frame(static_cast<std::size_t>(kWidth) * kHeight * 4, 0x7f);
    std::vector<std::uint8_t> upload;
    for (auto _ : state) {
        upload = frame;
        benchmark::DoNotOptimize(upload.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 4);
}
BENCHMARK(BM_FrameCopy)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
