// The draw callback on the host's real GL context, checked on the host's screenshots.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "pipeline/png_decode_libpng.h"
#include "platform/gl.h"
#include "test_host.h"

namespace {

using Bgra = std::array<int, 4>;

constexpr Bgra red{0, 0, 255, 255}, green{0, 255, 0, 255}, blue{255, 0, 0, 255}, white{255, 255, 255, 255},
    black{0, 0, 0, 255};

// A 2 x 2 page: red and green on the top row, blue and white below.
std::vector<std::uint8_t> quadrantPage()
{
    std::vector<std::uint8_t> px;
    for (const Bgra& c : {red, green, blue, white})
        for (int v : c) px.push_back(static_cast<std::uint8_t>(v));
    return px;
}

std::vector<std::uint8_t> solidPage(int w, int h, const Bgra& c)
{
    std::vector<std::uint8_t> px;
    for (int i = 0; i < w * h; ++i)
        for (int v : c) px.push_back(static_cast<std::uint8_t>(v));
    return px;
}

void publish(std::vector<std::uint8_t> pixels, int w, int h)
{
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels = std::move(pixels);
        pageWidth = w;
        pageHeight = h;
    }
    frameUpdated = true;
}

class DrawTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        folder = makeTempFolder();
        vrEnabledRef = nullptr;
        createPanelWindow();  // 100, 980, 868, 468 on the default desktop
        ASSERT_NE(panelWindow, nullptr);
        createPanelTexture();
        setBlankPanelImage();
        ASSERT_NE(panelTexture, 0);
        uploadPixels.clear();
        uploadWidth = uploadHeight = 0;
        {
            std::lock_guard<std::mutex> lock(frameMutex);
            framePixels.clear();
        }
        frameUpdated = false;
    }
    void TearDown() override
    {
        for (XPLMWindowID w : extraWindows) XPLMDestroyWindow(w);
        destroyPanelWindow();
        deletePanelTexture();
        publish({}, 768, 512);
        frameUpdated = false;
        std::filesystem::remove_all(folder);
    }

    // Draws one frame and reads the desktop back.
    void drawFrame()
    {
        const std::string file = folder + "/shot.png";
        hostRun("frames 1; screenshot " + file);
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::uint32_t w = 0, h = 0;
        shot.clear();
        ASSERT_TRUE(DecodePng(png.data(), png.size(), shot, w, h));
        shotWidth = static_cast<int>(w);
        shotHeight = static_cast<int>(h);
    }

    // The colour at a desktop position (boxels, y up; the default desktop is 1920 x 1080).
    Bgra at(int x, int y) const
    {
        const int row = shotHeight - 1 - y;
        const std::size_t i = (static_cast<std::size_t>(row) * static_cast<std::size_t>(shotWidth) +
                               static_cast<std::size_t>(x)) * 4;
        return {shot[i], shot[i + 1], shot[i + 2], shot[i + 3]};
    }

    static bool near(const Bgra& a, const Bgra& b)
    {
        for (int i = 0; i < 3; ++i)
            if (std::abs(a[i] - b[i]) > 4) return false;
        return true;
    }

    // The colours at the centres of the four quarters of a rectangle.
    void expectQuadrants(int left, int top, int right, int bottom)
    {
        const int x1 = left + (right - left) / 4, x2 = left + 3 * (right - left) / 4;
        const int y1 = top - (top - bottom) / 4, y2 = top - 3 * (top - bottom) / 4;
        EXPECT_TRUE(near(at(x1, y1), red));
        EXPECT_TRUE(near(at(x2, y1), green));
        EXPECT_TRUE(near(at(x1, y2), blue));
        EXPECT_TRUE(near(at(x2, y2), white));
    }

    std::string folder;
    std::vector<std::uint8_t> shot;
    int shotWidth = 0, shotHeight = 0;
    std::vector<XPLMWindowID> extraWindows;
};

TEST_F(DrawTest, BeforeTheFirstFrameAShownPanelIsBlack)
{
    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();
    EXPECT_TRUE(near(at(484, 724), black));
    EXPECT_TRUE(near(at(110, 478), black));
    EXPECT_TRUE(uploadPixels.empty());
}

TEST_F(DrawTest, TheFrameIsUprightAndFillsTheWindow)
{
    publish(quadrantPage(), 2, 2);
    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();
    expectQuadrants(100, 980, 868, 468);
    EXPECT_FALSE(frameUpdated);
    EXPECT_EQ(uploadPixels, quadrantPage());
    EXPECT_EQ(uploadWidth, 2);
    EXPECT_EQ(uploadHeight, 2);
}

TEST_F(DrawTest, AnyWindowShapeGetsTheWholeImageStretched)
{
    publish(quadrantPage(), 2, 2);
    XPLMSetWindowIsVisible(panelWindow, 1);
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = 1000;
    params.top = 1000;
    params.right = 1800;
    params.bottom = 100;
    params.visible = 1;
    params.drawWindowFunc = drawPanelWindow;
    params.decorateAsFloatingWindow = xplm_WindowDecorationRoundRectangle;
    params.layer = xplm_WindowLayerFloatingWindows;
    extraWindows.push_back(XPLMCreateWindowEx(&params));
    drawFrame();
    expectQuadrants(100, 980, 868, 468);
    expectQuadrants(1000, 1000, 1800, 100);
}

TEST_F(DrawTest, ANewFrameIsCopiedOnlyWhenFlagged)
{
    publish(quadrantPage(), 2, 2);
    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();

    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels = solidPage(2, 2, green);
    }
    drawFrame();
    EXPECT_EQ(uploadPixels, quadrantPage());
    expectQuadrants(100, 980, 868, 468);

    frameUpdated = true;
    drawFrame();
    EXPECT_TRUE(near(at(292, 852), green));
    EXPECT_TRUE(near(at(676, 596), green));
}

TEST_F(DrawTest, EveryDrawUploadsTheLastFrameAgain)
{
    publish(quadrantPage(), 2, 2);
    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();

    // Something else replaces the texture's image between two draws.
    const std::vector<std::uint8_t> magenta = {255, 0, 255, 255};
    XPLMBindTexture2d(panelTexture, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, magenta.data());
    drawFrame();
    expectQuadrants(100, 980, 868, 468);
}

TEST_F(DrawTest, AHiddenPanelTakesNoFrameUntilShown)
{
    publish(quadrantPage(), 2, 2);
    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();

    XPLMSetWindowIsVisible(panelWindow, 0);
    publish(solidPage(4, 4, green), 4, 4);
    drawFrame();
    EXPECT_TRUE(frameUpdated);
    EXPECT_EQ(uploadPixels, quadrantPage());

    XPLMSetWindowIsVisible(panelWindow, 1);
    drawFrame();
    EXPECT_FALSE(frameUpdated);
    EXPECT_EQ(uploadWidth, 4);
    EXPECT_TRUE(near(at(292, 852), green));
}

}  // namespace
