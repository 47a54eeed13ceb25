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
#include "plugin/settings.h"
#include "png_maker.h"
#include "test_host.h"

namespace {

// A picture whose every pixel is (r, g, b, a).
std::vector<std::uint8_t> solidRgba(std::uint32_t w, std::uint32_t h, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                                    std::uint8_t a = 255)
{
    std::vector<std::uint8_t> px;
    for (std::uint32_t i = 0; i < w * h; ++i) px.insert(px.end(), {r, g, b, a});
    return px;
}

PngBuffer pngOf(std::vector<std::uint8_t> bytes) { return PngBuffer(std::move(bytes)); }

TEST(DecodePng, GivesStraightBgraTopRowFirst)
{
    // Row 0: red, half-transparent green; row 1: blue, white.
    const std::vector<std::uint8_t> rgba = {255, 0, 0, 255, 0, 200, 0, 128, 0, 0, 255, 255, 255, 255, 255, 255};
    const std::vector<std::uint8_t> png = makeRgbaPng(2, 2, rgba);
    std::vector<std::uint8_t> pixels;
    std::uint32_t w = 0, h = 0;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), pixels, w, h));
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 2u);
    const std::vector<std::uint8_t> bgra = {0, 0, 255, 255, 0, 200, 0, 128, 255, 0, 0, 255, 255, 255, 255, 255};
    EXPECT_EQ(pixels, bgra);
}

TEST(DecodePng, RefusesAnythingButAWholePngAndLeavesTheOutputsAlone)
{
    const std::vector<std::uint8_t> good = makeRgbaPng(4, 3, solidRgba(4, 3, 1, 2, 3));
    std::vector<std::uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    std::vector<std::uint8_t> garbage(500, 0x5A);
    std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + 8);

    for (const std::vector<std::uint8_t>* bytes : {&truncated, &garbage, &headerOnly}) {
        std::vector<std::uint8_t> pixels = {9, 9};
        std::uint32_t w = 77, h = 88;
        EXPECT_FALSE(DecodePng(bytes->data(), bytes->size(), pixels, w, h));
        EXPECT_EQ(pixels, (std::vector<std::uint8_t>{9, 9}));
        EXPECT_EQ(w, 77u);
        EXPECT_EQ(h, 88u);
    }
    std::vector<std::uint8_t> pixels;
    std::uint32_t w = 77, h = 88;
    EXPECT_FALSE(DecodePng(good.data(), 0, pixels, w, h));
    EXPECT_FALSE(DecodePng(nullptr, 0, pixels, w, h));
    EXPECT_EQ(w, 77u);
}

TEST(DecodePng, RefusesDeclaredSizesBeyondTheLimits)
{
    std::vector<std::uint8_t> pixels;
    std::uint32_t w = 0, h = 0;

    const std::vector<std::uint8_t> widest = makeBlackGreyPng(16384, 1);
    EXPECT_TRUE(DecodePng(widest.data(), widest.size(), pixels, w, h));
    EXPECT_EQ(w, 16384u);

    pixels.clear();
    w = h = 0;
    const std::vector<std::uint8_t> tooWide = makeBlackGreyPng(16385, 1);
    EXPECT_FALSE(DecodePng(tooWide.data(), tooWide.size(), pixels, w, h));
    const std::vector<std::uint8_t> tooHigh = makeBlackGreyPng(1, 16385);
    EXPECT_FALSE(DecodePng(tooHigh.data(), tooHigh.size(), pixels, w, h));
    // Each side within limits, but 8192 x 8193 x 4 bytes is over 256 MiB of pixels.
    const std::vector<std::uint8_t> tooMany = makeBlackGreyPng(8192, 8193);
    EXPECT_FALSE(DecodePng(tooMany.data(), tooMany.size(), pixels, w, h));
    EXPECT_TRUE(pixels.empty());
    EXPECT_EQ(w, 0u);
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        {
            std::lock_guard<std::mutex> lock(frameMutex);
            framePixels = {1, 2, 3, 4};
            pageWidth = 1;
            pageHeight = 1;
        }
        frameUpdated = false;
        captureInFlight = false;
        pngQueue.clear();
    }
    void TearDown() override
    {
        stopDecodeThread();
        pngQueue.clear();
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels.clear();
        pageWidth = 768;
        pageHeight = 512;
    }
};

TEST_F(PipelineTest, CompletionQueuesGoodSnapshotsAndAlwaysReenablesCapture)
{
    captureInFlight = true;
    OnCaptureCompleted(false, pngOf({1, 2, 3}));
    EXPECT_FALSE(captureInFlight);
    EXPECT_TRUE(pngQueue.empty());

    captureInFlight = true;
    OnCaptureCompleted(true, PngBuffer());
    EXPECT_FALSE(captureInFlight);
    EXPECT_TRUE(pngQueue.empty());

    captureInFlight = true;
    OnCaptureCompleted(true, pngOf({1, 2, 3}));
    EXPECT_FALSE(captureInFlight);
    ASSERT_EQ(pngQueue.size(), 1u);
    EXPECT_EQ(pngQueue.front().bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(PipelineTest, QueuedSnapshotsAreAllDecodedInOrderBeforeStopReturns)
{
    OnCaptureCompleted(true, pngOf(makeRgbaPng(3, 1, solidRgba(3, 1, 10, 0, 0))));
    OnCaptureCompleted(true, pngOf(makeRgbaPng(2, 5, solidRgba(2, 5, 20, 0, 0))));
    OnCaptureCompleted(true, pngOf(makeRgbaPng(4, 2, solidRgba(4, 2, 30, 0, 0))));
    startDecodeThread();
    stopDecodeThread();

    EXPECT_TRUE(pngQueue.empty());
    EXPECT_TRUE(frameUpdated);
    std::lock_guard<std::mutex> lock(frameMutex);
    EXPECT_EQ(pageWidth, 4);
    EXPECT_EQ(pageHeight, 2);
    ASSERT_EQ(framePixels.size(), 4u * 2u * 4u);
    EXPECT_EQ(framePixels[2], 30);  // red lands in the third byte of BGRA
}

TEST_F(PipelineTest, BadSnapshotsKeepTheFrameButStillRaiseTheFlag)
{
    const std::vector<std::uint8_t> good = makeRgbaPng(4, 4, solidRgba(4, 4, 1, 2, 3));
    OnCaptureCompleted(true, pngOf(std::vector<std::uint8_t>(good.begin(), good.begin() + 40)));
    OnCaptureCompleted(true, pngOf(std::vector<std::uint8_t>(64, 0xEE)));
    OnCaptureCompleted(true, pngOf(makeBlackGreyPng(16385, 1)));
    startDecodeThread();
    stopDecodeThread();

    EXPECT_TRUE(frameUpdated);
    std::lock_guard<std::mutex> lock(frameMutex);
    EXPECT_EQ(framePixels, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(pageWidth, 1);
    EXPECT_EQ(pageHeight, 1);
}

TEST_F(PipelineTest, AWaitingWorkerPicksUpEachSnapshotAndStopsWhenIdle)
{
    startDecodeThread();
    OnCaptureCompleted(true, pngOf(makeRgbaPng(6, 2, solidRgba(6, 2, 0, 0, 0))));
    OnCaptureCompleted(true, pngOf(makeRgbaPng(5, 3, solidRgba(5, 3, 0, 0, 0))));
    stopDecodeThread();
    EXPECT_FALSE(decodeThread.joinable());
    EXPECT_EQ(pageWidth, 5);
    EXPECT_EQ(pageHeight, 3);

    // A second start after a stop works the same way (reload in one process).
    startDecodeThread();
    stopDecodeThread();
    EXPECT_FALSE(decodeThread.joinable());
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        vrEnabledRef = nullptr;
        createPanelWindow();
        captureInFlight = false;
        newLogText();
    }
    void TearDown() override
    {
        destroyPanelWindow();
        refreshWebPageSecs = 60;
    }
};

TEST_F(CaptureTest, AHiddenPanelAsksForNothingAndSaysNothing)
{
    RequestCapture();
    EXPECT_FALSE(captureInFlight);
    EXPECT_EQ(newLogText(), "");
}

TEST_F(CaptureTest, AShownPanelWithoutBrowserLogsOncePerDueCheck)
{
    XPLMSetWindowIsVisible(panelWindow, 1);
    const double now = XPLMGetElapsedTime();
    lastCaptureTime = now - 0.5;  // exactly half a second is not yet due
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(newLogText(), "");
    lastCaptureTime = now - 0.75;
    EXPECT_EQ(PanelFlightLoop(0, 0, 0, nullptr), -1.0f);
    EXPECT_EQ(newLogText(), "CV: error, could not lookup our Webview.\n");
    EXPECT_EQ(lastCaptureTime, now);
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(newLogText(), "");
    EXPECT_FALSE(captureInFlight);
}

TEST_F(CaptureTest, ReloadClockRunsOnlyWithAPositivePeriod)
{
    const double now = XPLMGetElapsedTime();
    refreshWebPageSecs = 0;
    lastRefreshTime = now - 1000.0;
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(lastRefreshTime, now - 1000.0);

    refreshWebPageSecs = 10;
    lastRefreshTime = now - 10.0;
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(lastRefreshTime, now - 10.0);
    lastRefreshTime = now - 10.5;
    PanelFlightLoop(0, 0, 0, nullptr);
    EXPECT_EQ(lastRefreshTime, now);  // due reloads advance the clock even without a browser
}

}  // namespace
