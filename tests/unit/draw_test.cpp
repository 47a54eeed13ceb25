// The draw callback on the host's real GL context, checked on the desktop the host read back.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"
#include "platform/gl.h"
#include "test_host.h"

// What another plugin would use, the pixel buffer calls among them (GLVND exports them on Linux).
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

// Runs once, from inside the next texture upload: what the decode thread does at that moment.
// Every glTexImage2D and glTexSubImage2D of this program (the code under test's too) comes here
// first, and is counted: {images specified, sub-images replaced}.
std::function<void()> duringUpload;
std::array<int, 2> uploads{};
extern "C" void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                             GLint border, GLenum format, GLenum type, const void* pixels) {
    using Upload = void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*);
    static const auto upload = reinterpret_cast<Upload>(dlsym(RTLD_NEXT, "glTexImage2D"));
    upload(target, level, internalformat, width, height, border, format, type, pixels);
    ++uploads[0];
    if (duringUpload) std::exchange(duringUpload, nullptr)();
}
extern "C" void glTexSubImage2D(GLenum target, GLint level, GLint x, GLint y, GLsizei width, GLsizei height,
                                GLenum format, GLenum type, const void* pixels) {
    using Upload = void (*)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*);
    static const auto upload = reinterpret_cast<Upload>(dlsym(RTLD_NEXT, "glTexSubImage2D"));
    upload(target, level, x, y, width, height, format, type, pixels);
    ++uploads[1];
    if (duringUpload) std::exchange(duringUpload, nullptr)();
}

namespace {

using Rgb = std::array<int, 3>;
constexpr Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, white{255, 255, 255}, black{0, 0, 0};

// 2 x 2 BGRA, top row first: red, green; blue, white.
const std::vector<std::uint8_t> quadrants = {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255};
const std::vector<std::uint8_t> greenQuad = {0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255, 0, 255};

class DrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        testHost();
        vrEnabledRef = nullptr;
        createPanelWindow();  // 100, 980, 868, 468 on the default desktop
        createPanelTexture();
        XPLMSetWindowIsVisible(panelWindow, 1);
        setBlankPanelImage();
        uploadPixels.clear();
        publishFrame({}, 768, 512);
        frameUpdated = false;
    }
    void TearDown() override {
        destroyPanelWindow();
        deletePanelTexture();
        publishFrame({}, 768, 512);
        frameUpdated = false;
    }

    void drawFrame() {
        testHost().runFrames(1);
        ASSERT_TRUE(testHost().readDesktop(desktop, width, height));
    }
    // The colour at a desktop position (boxels, y up), within a small tolerance.
    bool shows(int x, int y, const Rgb& c) const {
        const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
        for (int k = 0; k < 3; ++k)
            if (std::abs(desktop[i + k] - c[k]) > 4) return false;
        return true;
    }
    // The four quarters of a rectangle show the quadrant page, upright.
    void expectQuadrants(int left, int top, int right, int bottom) const {
        const int x1 = left + (right - left) / 4, x2 = left + 3 * (right - left) / 4;
        const int y1 = top - (top - bottom) / 4, y2 = top - 3 * (top - bottom) / 4;
        EXPECT_TRUE(shows(x1, y1, red) && shows(x2, y1, green) && shows(x1, y2, blue) && shows(x2, y2, white));
    }

    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
};

TEST_F(DrawTest, ANewFrameIsTakenOnceAndUploadedOnceAsAnImageOnlyWhenItsSizeChangesAndNothingOlderComesBack) {
    using Uploads = std::array<int, 2>;
    drawFrame();
    EXPECT_TRUE(shows(484, 724, black) && shows(110, 478, black));

    uploads = {};
    publishFrame(quadrants, 2, 2);
    drawFrame();
    expectQuadrants(100, 980, 868, 468);
    EXPECT_FALSE(frameUpdated);
    EXPECT_EQ(uploadPixels, quadrants);
    EXPECT_EQ(uploads, (Uploads{1, 0})) << "a frame of another size than the blank one re-specifies the texture";
    // Draws with no new frame upload nothing; a resized window shows the same image stretched.
    makePanelLikeWindow(1000, 1000, 1800, 100);
    drawFrame();
    drawFrame();
    expectQuadrants(1000, 1000, 1800, 100);
    EXPECT_EQ(uploads, (Uploads{1, 0}));

    // A frame of the same size replaces the texels; an unflagged change to the frame is not taken.
    publishFrame(greenQuad, 2, 2);
    drawFrame();
    EXPECT_TRUE(shows(1200, 775, green) && shows(1600, 325, green));
    EXPECT_EQ(uploads, (Uploads{1, 1}));
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels = quadrants;
    }
    drawFrame();
    // A snapshot that failed to decode raises the flag with no newer frame: the older picture
    // the swap left behind is not shown again, and nothing is uploaded.
    frameUpdated = true;
    drawFrame();
    EXPECT_TRUE(shows(1200, 775, green) && shows(1600, 325, green));
    EXPECT_EQ(uploadPixels, greenQuad);
    EXPECT_EQ(uploads, (Uploads{1, 1}));

    // A frame published while the last is uploaded keeps its flag and is shown by the next draw.
    publishFrame(quadrants, 2, 2);
    duringUpload = [&] { publishFrame(greenQuad, 2, 2); };
    drawPanelWindow(panelWindow, nullptr);
    duringUpload = nullptr;
    EXPECT_EQ(uploadPixels, quadrants);
    EXPECT_TRUE(frameUpdated) << "the frame published during the upload lost its flag";
    drawFrame();
    EXPECT_TRUE(shows(1200, 775, green) && shows(1600, 325, green));
    EXPECT_EQ(uploads, (Uploads{1, 3}));
}

}  // namespace

namespace {

// Another plugin's leftovers: a pixel buffer full of grey bytes, and unpack settings that would
// shear any image read from memory.
struct LeftBehind {
    GLuint buffer = 0;
    LeftBehind() {
        const std::vector<std::uint8_t> grey(8 * 1024 * 1024, 0x40);
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffer);
        glBufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<long>(grey.size()), grey.data(), GL_STATIC_DRAW);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 3);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 5);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    }
    ~LeftBehind() {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glDeleteBuffers(1, &buffer);
        for (GLenum parameter : {GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS})
            glPixelStorei(parameter, 0);
    }
    // Everything left behind is as it was, except the alignment, which the upload leaves at 1.
    void expectRestored() const {
        GLint bound = 0, rowLength = 0, skipRows = 0, skipPixels = 0, alignment = 0;
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &bound);
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength);
        glGetIntegerv(GL_UNPACK_SKIP_ROWS, &skipRows);
        glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &skipPixels);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
        EXPECT_EQ(bound, static_cast<GLint>(buffer));
        EXPECT_EQ(std::vector<GLint>({rowLength, skipRows, skipPixels, alignment}), std::vector<GLint>({7, 3, 5, 1}));
    }
};

// The panel texture's image, BGRA, read straight from GL.
std::vector<std::uint8_t> textureImage(std::size_t bytes) {
    std::vector<std::uint8_t> image(bytes, 0xAA);
    XPLMBindTexture2d(panelTexture, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, image.data());
    return image;
}

TEST_F(DrawTest, BothUploadsIgnoreAPixelBufferAndUnpackSettingsLeftBehindAndPutThemBack) {
    // A frame whose rows differ, so a sheared or offset read shows.
    std::vector<std::uint8_t> page;
    for (int i = 0; i < 4 * 3 * 4; ++i) page.push_back(static_cast<std::uint8_t>(i * 5));
    publishFrame(page, 4, 3);
    {
        const LeftBehind left;
        drawPanelWindow(panelWindow, nullptr);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(0));
        left.expectRestored();
    }
    EXPECT_EQ(textureImage(page.size()), page);

    {
        const LeftBehind left;
        setBlankPanelImage();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(0));
        left.expectRestored();
    }
    EXPECT_EQ(textureImage(768 * 512 * 4), std::vector<std::uint8_t>(768 * 512 * 4, 0));
}

// Another plugin's leftovers that XPLMSetGraphicsState does not touch: every face culled,
// polygons drawn as outlines, texels added to the colour (white), a texture matrix that
// mirrors the page, generated texture coordinates, and a cube map enabled over the 2-D texture.
struct QuadLeftovers {
    static constexpr GLfloat mirror[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1};
    QuadLeftovers() {
        glCullFace(GL_FRONT_AND_BACK);
        glEnable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
        glMatrixMode(GL_TEXTURE);
        glTranslatef(1, 0, 0);
        glScalef(-1, 1, 1);
        glMatrixMode(GL_MODELVIEW);
        for (GLenum on : {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_CUBE_MAP}) glEnable(on);
    }
    ~QuadLeftovers() {
        glDisable(GL_CULL_FACE);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        for (GLenum on : {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_CUBE_MAP}) glDisable(on);
    }
    // Everything is as it was left.
    static void expectRestored() {
        GLint polygon[2] = {}, environment = 0, mode = 0;
        GLfloat matrix[16] = {};
        glGetIntegerv(GL_POLYGON_MODE, polygon);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &environment);
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        glGetFloatv(GL_TEXTURE_MATRIX, matrix);
        EXPECT_EQ(std::vector<GLint>({polygon[0], polygon[1], environment, mode}),
                  std::vector<GLint>({GL_LINE, GL_LINE, GL_ADD, GL_MODELVIEW}));
        EXPECT_EQ(std::vector<GLfloat>(matrix, matrix + 16), std::vector<GLfloat>(mirror, mirror + 16));
        for (GLenum on : {GL_CULL_FACE, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_CUBE_MAP})
            EXPECT_TRUE(glIsEnabled(on)) << on;
    }
};

TEST_F(DrawTest, CullingATextureEnvironmentAndMatrixLeftBehindNeitherHideNorChangeThePanelAndArePutBack) {
    publishFrame(quadrants, 2, 2);
    drawFrame();  // the desktop stays bound with its projection, unit 0 active
    // What the frame drew is wiped (the colour buffer): the quadrants read below are this draw's.
    glClear(GL_COLOR_BUFFER_BIT);
    {
        const QuadLeftovers left;
        drawPanelWindow(panelWindow, nullptr);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(0));
        QuadLeftovers::expectRestored();
    }
    ASSERT_TRUE(testHost().readDesktop(desktop, width, height));
    expectQuadrants(100, 980, 868, 468);
}

}  // namespace
