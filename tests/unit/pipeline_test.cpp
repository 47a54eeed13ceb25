// The road of a snapshot: completion, queue, decode worker and PNG decoding, shared frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
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

}  // namespace
