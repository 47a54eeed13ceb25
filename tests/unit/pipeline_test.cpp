// The road of a snapshot: completion, queue, decode worker and PNG decoding, shared frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
#include "pipeline/decoder.h"
#include "pipeline/frame.h"
#include "png_maker.h"
#include "test_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        testHost();
        publishFrame({1, 2, 3, 4}, 1, 1);
        frameUpdated = false;
        pngQueue.clear();
    }
    void TearDown() override {
        stopDecodeThread();
        pngQueue.clear();
        publishFrame({}, 768, 512);
    }
};

// Bad snapshots and headers too large keep the frame but still raise the flag. A failed or
// empty snapshot is not queued, and capture goes on either way. A worker already waiting takes
// what comes, and a second start works too: the widest picture allowed decodes, and colours
// arrive as straight BGRA, top row first.
TEST_F(PipelineTest, BadSnapshotsKeepTheFrameFailedOnesAreNotQueuedAndGoodOnesAreDecodedBeforeStopReturns) {
    const Bytes good = makePng(4, 4);
    OnCaptureCompleted(true, PngBuffer(Bytes(good.begin(), good.begin() + 40)));
    OnCaptureCompleted(true, PngBuffer(Bytes(64, 0xEE)));
    OnCaptureCompleted(true, PngBuffer(makePng(16385, 1)));
    OnCaptureCompleted(true, PngBuffer(makePng(1, 16385)));
    OnCaptureCompleted(true, PngBuffer(makePng(8192, 8193)));  // each side allowed, but over 256 MiB of pixels
    startDecodeThread();
    stopDecodeThread();
    EXPECT_TRUE(frameUpdated);
    EXPECT_EQ(framePixels, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(pageWidth, 1);
    EXPECT_EQ(pageHeight, 1);

    for (bool succeeded : {false, true}) {
        captureInFlight = true;
        OnCaptureCompleted(succeeded, succeeded ? PngBuffer() : PngBuffer(makePng(1, 1)));
        EXPECT_FALSE(captureInFlight);
        EXPECT_TRUE(pngQueue.empty());
    }
    // Row 0: red, half-transparent green; row 1: blue, white.
    const Bytes rgba = {255, 0, 0, 255, 0, 200, 0, 128, 0, 0, 255, 255, 255, 255, 255, 255};
    OnCaptureCompleted(true, PngBuffer(makePng(2, 2, rgba)));
    startDecodeThread();
    stopDecodeThread();
    EXPECT_EQ(framePixels, (Bytes{0, 0, 255, 255, 0, 200, 0, 128, 255, 0, 0, 255, 255, 255, 255, 255}));
    startDecodeThread();
    OnCaptureCompleted(true, PngBuffer(makePng(16384, 1)));
    stopDecodeThread();
    EXPECT_FALSE(decodeThread.joinable());
    EXPECT_EQ(pageWidth, 16384);
}

// JPEG frames, told from PNG by their signature, decode straight to opaque BGRA at the header's
// size and reach the shared frame like snapshots; a stream cut short, one damaged after its
// header, and one wider than the bound leave the outputs alone.
TEST_F(PipelineTest, JpegFramesDecodeToOpaqueBgraAndCutDamagedOrOversizedOnesAreRefused) {
    // 16 x 8, left half red, right half blue: blocks of one colour survive the compression.
    Bytes rgb;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            rgb.insert(rgb.end(), {Bytes::value_type(x < 8 ? 255 : 0), 0, Bytes::value_type(x < 8 ? 0 : 255)});
    const Bytes jpeg = makeJpeg(16, 8, rgb);
    Bytes pixels = {9};
    std::uint32_t width = 7, height = 5;
    ASSERT_TRUE(decodeSnapshot(PngBuffer(Bytes(jpeg)), pixels, width, height));
    ASSERT_EQ(pixels.size(), 16u * 8 * 4);
    EXPECT_EQ(width, 16u);
    EXPECT_EQ(height, 8u);
    auto near = [&](std::size_t x, std::size_t y, const Bytes& bgra) {
        for (std::size_t c = 0; c < 4; ++c)
            if (std::abs(pixels[(y * 16 + x) * 4 + c] - bgra[c]) > 8) return false;
        return true;
    };
    EXPECT_TRUE(near(1, 1, {0, 0, 255, 255}) && near(14, 6, {255, 0, 0, 255}));

    Bytes damaged = jpeg;
    for (std::size_t i = damaged.size() / 2; i < damaged.size() - 2; ++i) damaged[i] = 0xFF;
    const Bytes refused[] = {Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2), damaged,
                             makeJpeg(16385, 1, Bytes(16385 * 3, 0x80)), Bytes{0xFF, 0xD8, 0xFF}};
    for (const Bytes& bytes : refused) {
        Bytes untouched = {9};
        std::uint32_t w = 7, h = 5;
        EXPECT_FALSE(decodeSnapshot(PngBuffer(Bytes(bytes)), untouched, w, h)) << bytes.size();
        EXPECT_TRUE(untouched == Bytes{9} && w == 7 && h == 5);
    }

    Bytes old;
    processPngBuffer(PngBuffer(Bytes(jpeg)), old);
    EXPECT_EQ(old, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(framePixels, pixels);
    EXPECT_EQ(pageWidth, 16);
}

}  // namespace
