// The road of a snapshot: completion, queue, decode worker, shared frame; and PNG decoding.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "pipeline/capture_completion.h"
#include "pipeline/decode_queue.h"
#include "pipeline/decode_worker.h"
#include "pipeline/frame.h"
#include "pipeline/png_decode_libpng.h"
#include "png_maker.h"
#include "test_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A PNG of w x h pixels all of one red level.
PngBuffer redPng(std::uint32_t w, std::uint32_t h, std::uint8_t red)
{
    Bytes rgba;
    for (std::uint32_t i = 0; i < w * h; ++i) rgba.insert(rgba.end(), {red, 0, 0, 255});
    return PngBuffer(makePng(w, h, rgba));
}

bool decodes(const Bytes& png, Bytes& pixels, std::uint32_t& w, std::uint32_t& h)
{
    return DecodePng(png.data(), png.size(), pixels, w, h);
}

TEST(DecodePng, GivesStraightBgraTopRowFirst)
{
    // Row 0: red, half-transparent green; row 1: blue, white.
    const Bytes png = makePng(2, 2, {255, 0, 0, 255, 0, 200, 0, 128, 0, 0, 255, 255, 255, 255, 255, 255});
    Bytes pixels;
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(decodes(png, pixels, w, h));
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(pixels, (Bytes{0, 0, 255, 255, 0, 200, 0, 128, 255, 0, 0, 255, 255, 255, 255, 255}));
}

TEST(DecodePng, RefusesDamagedDataAndOversizedHeadersLeavingTheOutputsAlone)
{
    const Bytes good = redPng(4, 3, 9).bytes;
    const Bytes cases[] = {
        Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),  // truncated
        Bytes(500, 0x5A),                                                       // garbage
        Bytes(),                                                                // empty
        makePng(16385, 1),
        makePng(1, 16385),
        makePng(8192, 8193),  // each side allowed, but over 256 MiB of pixels
    };
    for (const Bytes& bytes : cases) {
        Bytes pixels = {7};
        std::uint32_t w = 77, h = 88;
        EXPECT_FALSE(decodes(bytes, pixels, w, h)) << bytes.size();
        EXPECT_EQ(pixels, Bytes{7});
        EXPECT_EQ(w, 77u);
        EXPECT_EQ(h, 88u);
    }
    // The widest allowed picture still decodes.
    Bytes pixels;
    std::uint32_t w = 0, h = 0;
    EXPECT_TRUE(decodes(makePng(16384, 1), pixels, w, h));
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        setFrame({1, 2, 3, 4}, 1, 1);
        frameUpdated = false;
        pngQueue.clear();
    }
    void TearDown() override
    {
        stopDecodeThread();
        pngQueue.clear();
        setFrame({}, 768, 512);
    }
    static void setFrame(Bytes pixels, int w, int h)
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels = std::move(pixels);
        pageWidth = w;
        pageHeight = h;
    }
};

TEST_F(PipelineTest, CompletionQueuesGoodSnapshotsAndAlwaysReenablesCapture)
{
    for (bool succeeded : {false, true}) {
        captureInFlight = true;
        OnCaptureCompleted(succeeded, succeeded ? PngBuffer() : PngBuffer(Bytes{1, 2}));
        EXPECT_FALSE(captureInFlight);
        EXPECT_TRUE(pngQueue.empty());
    }
    captureInFlight = true;
    OnCaptureCompleted(true, PngBuffer(Bytes{1, 2, 3}));
    EXPECT_FALSE(captureInFlight);
    ASSERT_EQ(pngQueue.size(), 1u);
    EXPECT_EQ(pngQueue.front().bytes, (Bytes{1, 2, 3}));
}

TEST_F(PipelineTest, QueuedSnapshotsAreDecodedInOrderBeforeStopReturns)
{
    OnCaptureCompleted(true, redPng(3, 1, 10));
    OnCaptureCompleted(true, redPng(2, 5, 20));
    OnCaptureCompleted(true, redPng(4, 2, 30));
    startDecodeThread();
    stopDecodeThread();
    EXPECT_TRUE(pngQueue.empty());
    EXPECT_TRUE(frameUpdated);
    EXPECT_EQ(pageWidth, 4);
    EXPECT_EQ(pageHeight, 2);
    ASSERT_EQ(framePixels.size(), 4u * 2u * 4u);
    EXPECT_EQ(framePixels[2], 30);  // red is the third byte of BGRA

    // A worker that is already waiting picks snapshots up, and a second start works too.
    startDecodeThread();
    OnCaptureCompleted(true, redPng(5, 3, 0));
    stopDecodeThread();
    EXPECT_FALSE(decodeThread.joinable());
    EXPECT_EQ(pageWidth, 5);
}

TEST_F(PipelineTest, BadSnapshotsKeepTheFrameButStillRaiseTheFlag)
{
    const Bytes good = redPng(4, 4, 1).bytes;
    OnCaptureCompleted(true, PngBuffer(Bytes(good.begin(), good.begin() + 40)));
    OnCaptureCompleted(true, PngBuffer(Bytes(64, 0xEE)));
    startDecodeThread();
    stopDecodeThread();
    EXPECT_TRUE(frameUpdated);
    EXPECT_EQ(framePixels, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(pageWidth, 1);
    EXPECT_EQ(pageHeight, 1);
}

TEST(Capture, AShownPanelWithoutBrowserLogsOncePerDueCheck)
{
    testHost();
    vrEnabledRef = nullptr;
    createPanelWindow();
    captureInFlight = false;
    newLogText();
    const double now = XPLMGetElapsedTime();
    lastCaptureTime = now - 0.75;
    PanelFlightLoop(0, 0, 0, nullptr);  // hidden: nothing asked, nothing said
    EXPECT_EQ(newLogText(), "");
    EXPECT_EQ(lastCaptureTime, now);

    XPLMSetWindowIsVisible(panelWindow, 1);
    lastCaptureTime = now - 0.5;  // exactly half a second is not yet due
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(newLogText(), "");
    lastCaptureTime = now - 0.75;
    EXPECT_EQ(PanelFlightLoop(0, 0, 0, nullptr), -1.0f);
    EXPECT_EQ(newLogText(), "CV: error, could not lookup our Webview.\n");
    EXPECT_FALSE(captureInFlight);
    destroyPanelWindow();
}

}  // namespace
