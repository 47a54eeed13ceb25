// The Windows decoder on the decode thread's terms: its own thread in COM's multithreaded
// apartment, a PNG in, exact BGRA out, and nothing published for anything else.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "pipeline/decode_worker.h"
#include "pipeline/decoder.h"
#include "pipeline/frame.h"
#include "test_png.h"

namespace {

// Runs `work` the way the decode thread does: its own thread, entered and left around it.
template <typename Work>
void onDecoderThread(Work work) {
    std::thread thread([&] {
        enterDecoderThread();
        work();
        leaveDecoderThread();
    });
    thread.join();
}

struct Decoded {
    bool ok = false;
    std::vector<std::uint8_t> pixels{0xEE};  // sentinels: a failed decode must leave them
    std::uint32_t width = 7, height = 9;
};

Decoded decode(std::vector<std::uint8_t> bytes) {
    Decoded out;
    onDecoderThread([&] { out.ok = decodeSnapshot(PngBuffer(std::move(bytes)), out.pixels, out.width, out.height); });
    return out;
}

void expectUntouched(const Decoded& d) {
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.pixels, std::vector<std::uint8_t>{0xEE});
    EXPECT_EQ(d.width, 7u);
    EXPECT_EQ(d.height, 9u);
}

std::vector<std::uint8_t> validPng() {
    // 3 x 2 RGBA: straight alpha must come through unpremultiplied, rows top first.
    const std::vector<std::uint8_t> rgba = {
        0xFF, 0x00, 0x00, 0xFF, /**/ 0x00, 0xFF, 0x00, 0x80, /**/ 0x00, 0x00, 0xFF, 0x00,
        0x10, 0x20, 0x30, 0x40, /**/ 0xFE, 0xDC, 0xBA, 0xFF, /**/ 0x01, 0x02, 0x03, 0x04,
    };
    return test_png::encode(3, 2, test_png::Colour::rgba, rgba);
}

const std::vector<std::uint8_t> kValidBgra = {
    0x00, 0x00, 0xFF, 0xFF, /**/ 0x00, 0xFF, 0x00, 0x80, /**/ 0xFF, 0x00, 0x00, 0x00,
    0x30, 0x20, 0x10, 0x40, /**/ 0xBA, 0xDC, 0xFE, 0xFF, /**/ 0x03, 0x02, 0x01, 0x04,
};

TEST(WicDecoder, GivesExactBgraBytesTopRowFirst) {
    const Decoded d = decode(validPng());
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 3u);
    EXPECT_EQ(d.height, 2u);
    EXPECT_EQ(d.pixels, kValidBgra);
}

TEST(WicDecoder, OpaqueRgbGetsFullAlpha) {
    const Decoded d = decode(test_png::encode(2, 1, test_png::Colour::rgb, {0x11, 0x22, 0x33, 0xA0, 0xB0, 0xC0}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels, (std::vector<std::uint8_t>{0x33, 0x22, 0x11, 0xFF, 0xC0, 0xB0, 0xA0, 0xFF}));
}

TEST(WicDecoder, TrailingBytesAfterTheImageAreIgnored) {
    // The capture hands over the whole memory block, which may be longer than the PNG.
    std::vector<std::uint8_t> bytes = validPng();
    bytes.resize(bytes.size() + 4096, 0xCD);
    const Decoded d = decode(std::move(bytes));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.pixels, kValidBgra);
}

TEST(WicDecoder, RejectsWhatIsNotAWholePng) {
    SCOPED_TRACE("not an image");
    expectUntouched(decode({'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'}));
    SCOPED_TRACE("empty");
    expectUntouched(decode({}));
    SCOPED_TRACE("truncated");
    std::vector<std::uint8_t> cut = validPng();
    cut.resize(cut.size() / 2);
    expectUntouched(decode(std::move(cut)));
    SCOPED_TRACE("signature only");
    std::vector<std::uint8_t> signature = validPng();
    signature.resize(8);
    expectUntouched(decode(std::move(signature)));
}

TEST(WicDecoder, RejectsImagesBeyondTheSizeLimit) {
    // 16385 pixels wide: a real image, but wider than any page we accept.
    const int width = 16385;
    const Decoded wide = decode(test_png::encode(width, 1, test_png::Colour::rgb, std::vector<std::uint8_t>(width * 3, 0x7F)));
    expectUntouched(wide);
    // At the limit it still decodes.
    const Decoded edge =
        decode(test_png::encode(16384, 1, test_png::Colour::rgb, std::vector<std::uint8_t>(16384 * 3, 0x7F)));
    EXPECT_TRUE(edge.ok);
    EXPECT_EQ(edge.width, 16384u);
}

// The decode worker publishes through this decoder: a bad snapshot leaves the shared frame
// and page size as they were, a good one replaces both.
TEST(WicDecoder, SharedFrameKeepsItsPictureOnBadSnapshots) {
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels.assign(16, 0x5A);
        pageWidth.store(2);
        pageHeight.store(2);
    }
    std::vector<std::vector<std::uint8_t>> bad = {{}, {'x', 'y', 'z'}, validPng()};
    bad[2].resize(bad[2].size() - 20);
    for (auto& bytes : bad) {
        onDecoderThread([&] {
            std::vector<std::uint8_t> old;
            processPngBuffer(PngBuffer(std::move(bytes)), old);
        });
        std::lock_guard<std::mutex> lock(frameMutex);
        EXPECT_EQ(framePixels, std::vector<std::uint8_t>(16, 0x5A));
        EXPECT_EQ(pageWidth.load(), 2);
        EXPECT_EQ(pageHeight.load(), 2);
    }

    onDecoderThread([&] {
        std::vector<std::uint8_t> old;
        processPngBuffer(PngBuffer(validPng()), old);
        EXPECT_EQ(old, std::vector<std::uint8_t>(16, 0x5A));  // handed back to be freed outside the lock
    });
    std::lock_guard<std::mutex> lock(frameMutex);
    EXPECT_EQ(framePixels, kValidBgra);
    EXPECT_EQ(pageWidth.load(), 3);
    EXPECT_EQ(pageHeight.load(), 2);
}

}  // namespace
