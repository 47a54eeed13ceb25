#include "desktop_renderer.h"

#include "gl_context.h"
#include "hostile_gl.h"

#include <algorithm>
#include <cmath>

#if defined(_WIN32)
#    include <windows.h>
#endif
#include <GL/gl.h>

namespace xpsim {
namespace {

// Values beyond OpenGL 1.1, which Windows' gl.h does not carry.
constexpr GLenum kTexture0 = 0x84C0;
constexpr GLenum kFramebuffer = 0x8D40;
constexpr GLenum kColorAttachment0 = 0x8CE0;
constexpr GLenum kPixelPackBuffer = 0x88EB;
constexpr GLenum kPixelUnpackBuffer = 0x88EC;
constexpr GLenum kStaticDraw = 0x88E4;

constexpr int kFixedFunctionUnits = 4;  // the units XPLMSetGraphicsState switches
// Texture environment values beyond OpenGL 1.1.
constexpr GLenum kCombineRgb = 0x8571;
constexpr GLint kSubtract = 0x84E7;
constexpr std::intptr_t kUnpackBufferBytes = 64 * 1024;

constexpr int kTitleStripHeight = 18;

}  // namespace

int desktopPixels(int boxels, double scale) { return static_cast<int>(std::lround(boxels * scale)); }

namespace {

template <typename F>
void loadProc(const GlContext& context, F& target, const char* name) {
    target = reinterpret_cast<F>(context.procAddress(name));
}

}  // namespace

DesktopRenderer::DesktopRenderer(const GlContext& context, int left, int top, int right, int bottom, double scale)
    : left_(left), top_(top), right_(right), bottom_(bottom), scale_(scale),
      pixelWidth_(desktopPixels(right - left, scale)), pixelHeight_(desktopPixels(top - bottom, scale)) {
    loadProc(context, activeTexture_, "glActiveTexture");
    loadProc(context, genFramebuffers_, "glGenFramebuffers");
    loadProc(context, deleteFramebuffers_, "glDeleteFramebuffers");
    loadProc(context, bindFramebuffer_, "glBindFramebuffer");
    loadProc(context, framebufferTexture2D_, "glFramebufferTexture2D");
    loadProc(context, genBuffers_, "glGenBuffers");
    loadProc(context, deleteBuffers_, "glDeleteBuffers");
    loadProc(context, bindBuffer_, "glBindBuffer");
    loadProc(context, bufferData_, "glBufferData");

    // What the hostile state leaves bound: a buffer full of magenta-ish bytes, so pixels read
    // from it by mistake show, and a 2 x 2 texture of loud colours.
    if (genBuffers_ != nullptr && bindBuffer_ != nullptr && bufferData_ != nullptr) {
        genBuffers_(1, &unpackBuffer_);
        const std::vector<std::uint8_t> fill(static_cast<std::size_t>(kUnpackBufferBytes), 0xE0);
        bindBuffer_(kPixelUnpackBuffer, unpackBuffer_);
        bufferData_(kPixelUnpackBuffer, kUnpackBufferBytes, fill.data(), kStaticDraw);
        bindBuffer_(kPixelUnpackBuffer, 0);
    }
    const std::uint8_t decoy[] = {255, 0, 255, 255, 255, 255, 0, 255, 0, 255, 255, 255, 255, 128, 0, 255};
    glGenTextures(1, &decoyTexture_);
    glBindTexture(GL_TEXTURE_2D, decoyTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, decoy);
    glBindTexture(GL_TEXTURE_2D, 0);
}

DesktopRenderer::~DesktopRenderer() {
    if (vrFramebuffer_ != 0 && deleteFramebuffers_ != nullptr) deleteFramebuffers_(1, &vrFramebuffer_);
    if (vrColour_ != 0) glDeleteTextures(1, &vrColour_);
    if (unpackBuffer_ != 0 && deleteBuffers_ != nullptr) deleteBuffers_(1, &unpackBuffer_);
    if (decoyTexture_ != 0) glDeleteTextures(1, &decoyTexture_);
}

void DesktopRenderer::setProjection(double left, double right, double bottom, double top, int width, int height) {
    projLeft_ = left;
    projRight_ = right;
    projBottom_ = bottom;
    projTop_ = top;
    viewWidth_ = width;
    viewHeight_ = height;
}

void DesktopRenderer::beginDesktop() {
    target_ = 0;
    setProjection(left_, right_, bottom_, top_, pixelWidth_, pixelHeight_);
    resetCallbackState();
    glClearColor(0.10f, 0.12f, 0.15f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void DesktopRenderer::activeTexture(int unit) {
    if (activeTexture_ != nullptr) activeTexture_(kTexture0 + static_cast<unsigned>(unit));
}

void DesktopRenderer::resetCallbackState() {
    if (bindFramebuffer_ != nullptr) bindFramebuffer_(kFramebuffer, target_);
    glViewport(0, 0, viewWidth_, viewHeight_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(projLeft_, projRight_, projBottom_, projTop_, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    for (int unit = kFixedFunctionUnits - 1; unit >= 0; --unit) {
        activeTexture(unit);
        glDisable(GL_TEXTURE_2D);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    if (bindBuffer_ != nullptr) {
        bindBuffer_(kPixelUnpackBuffer, 0);
        bindBuffer_(kPixelPackBuffer, 0);
    }
    for (GLenum parameter : {GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS, GL_PACK_ROW_LENGTH,
                             GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS}) {
        glPixelStorei(parameter, 0);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBlendFunc(GL_ONE, GL_ZERO);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDepthMask(GL_FALSE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    // Each unit's texture environment and texture matrix as OpenGL starts them; unit 0 stays
    // active, and the matrix mode the modelview.
    const GLfloat noColour[4] = {0, 0, 0, 0};
    for (int unit = kFixedFunctionUnits - 1; unit >= 0; --unit) {
        activeTexture(unit);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glTexEnvi(GL_TEXTURE_ENV, kCombineRgb, GL_MODULATE);
        glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, noColour);
        for (GLenum coordinate : {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q})
            glDisable(coordinate);
        glMatrixMode(GL_TEXTURE);
        glLoadIdentity();
    }
    glMatrixMode(GL_MODELVIEW);
}

void DesktopRenderer::applyHostile(const HostileGl& state) {
    if (bindBuffer_ != nullptr && unpackBuffer_ != 0) bindBuffer_(kPixelUnpackBuffer, unpackBuffer_);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, state.rowLength);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, state.skipRows);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, state.skipPixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, state.alignment);
    glBlendFunc(state.blendSource, state.blendDestination);
    glEnable(GL_BLEND);
    glCullFace(state.cullFace);
    glFrontFace(state.frontFace);
    glEnable(GL_CULL_FACE);
    activeTexture(0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLint>(state.texEnvMode));
    const GLfloat magenta[4] = {1, 0, 1, 1};
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, magenta);
    glTexEnvi(GL_TEXTURE_ENV, kCombineRgb, kSubtract);
    glMatrixMode(GL_TEXTURE);
    if (state.textureMatrix == 0) {
        glTranslatef(1, 0, 0);
        glScalef(-1, 1, 1);
    } else if (state.textureMatrix == 1) {
        glTranslatef(0.5f, 0.5f, 0);
    } else {
        glRotatef(90, 0, 0, 1);
    }
    glMatrixMode(GL_MODELVIEW);
    activeTexture(state.activeUnit);
}

void DesktopRenderer::bindTextureOnUnit(int unit, unsigned texture) {
    activeTexture(unit);
    glBindTexture(GL_TEXTURE_2D, texture);
}

void DesktopRenderer::drawDecoration(int left, int top, int right, int bottom, bool inFront) {
    resetCallbackState();
    // Title strip above the window, then a one-boxel frame around window and strip.
    const float shade = inFront ? 0.32f : 0.24f;
    glColor3f(shade, shade, shade + 0.04f);
    glBegin(GL_QUADS);
    glVertex2i(left, top);
    glVertex2i(right, top);
    glVertex2i(right, top + kTitleStripHeight);
    glVertex2i(left, top + kTitleStripHeight);
    glEnd();
    glColor3f(0.55f, 0.57f, 0.60f);
    const int l = left - 1, r = right + 1, b = bottom - 1, t = top + kTitleStripHeight + 1;
    glBegin(GL_QUADS);
    // left, right, bottom, top edges, each one boxel thick
    glVertex2i(l, b);
    glVertex2i(left, b);
    glVertex2i(left, t);
    glVertex2i(l, t);
    glVertex2i(right, b);
    glVertex2i(r, b);
    glVertex2i(r, t);
    glVertex2i(right, t);
    glVertex2i(l, b);
    glVertex2i(r, b);
    glVertex2i(r, bottom);
    glVertex2i(l, bottom);
    glVertex2i(l, t - 1);
    glVertex2i(r, t - 1);
    glVertex2i(r, t);
    glVertex2i(l, t);
    glEnd();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void DesktopRenderer::beginVr(int width, int height, int pixelWidth, int pixelHeight) {
    if (genFramebuffers_ != nullptr && bindFramebuffer_ != nullptr && framebufferTexture2D_ != nullptr) {
        if (vrFramebuffer_ == 0) {
            genFramebuffers_(1, &vrFramebuffer_);
            glGenTextures(1, &vrColour_);
        }
        target_ = vrFramebuffer_;
        resetCallbackState();  // no unpack buffer bound for the image below
        if (pixelWidth != vrWidth_ || pixelHeight != vrHeight_) {
            glBindTexture(GL_TEXTURE_2D, vrColour_);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, pixelWidth, pixelHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            framebufferTexture2D_(kFramebuffer, kColorAttachment0, GL_TEXTURE_2D, vrColour_, 0);
            vrWidth_ = pixelWidth;
            vrHeight_ = pixelHeight;
        }
    }
    setProjection(0, width, 0, height, pixelWidth, pixelHeight);
    resetCallbackState();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void DesktopRenderer::endVr() {
    target_ = 0;
    setProjection(left_, right_, bottom_, top_, pixelWidth_, pixelHeight_);
    resetCallbackState();
}

unsigned DesktopRenderer::takeGlError() {
    const GLenum first = glGetError();
    if (first == GL_NO_ERROR) return 0;
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

bool DesktopRenderer::readOffscreen(std::vector<std::uint8_t>& rgba, int& width, int& height) {
    if (vrFramebuffer_ == 0 || vrWidth_ <= 0 || vrHeight_ <= 0) return false;
    const bool read = readTarget(vrFramebuffer_, vrWidth_, vrHeight_, rgba);
    width = vrWidth_;
    height = vrHeight_;
    return read;
}

bool DesktopRenderer::readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) {
    width = pixelWidth_;
    height = pixelHeight_;
    if (width <= 0 || height <= 0) return false;
    return readTarget(0, width, height, rgba);
}

bool DesktopRenderer::readTarget(unsigned target, int width, int height, std::vector<std::uint8_t>& rgba) {
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> bottomUp(row * static_cast<std::size_t>(height));
    target_ = target;
    resetCallbackState();  // the target bound, no pack buffer, rows packed as read below
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    target_ = 0;
    resetCallbackState();
    rgba.resize(bottomUp.size());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = bottomUp.data() + row * static_cast<std::size_t>(height - 1 - y);
        std::copy(source, source + row, rgba.data() + row * static_cast<std::size_t>(y));
    }
    // A screen has no transparency: what a window wrote into alpha is not shown.
    for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    return true;
}

bool DesktopRenderer::readPixel(int x, int y, std::uint8_t rgb[3]) {
    if (x < left_ || x >= right_ || y < bottom_ || y >= top_) return false;
    target_ = 0;
    resetCallbackState();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    std::uint8_t rgba[4] = {};
    // The framebuffer's rows count from the desktop's bottom edge, as boxels do.
    const int column = std::min(pixelWidth_ - 1, static_cast<int>(std::floor((x - left_) * scale_)));
    const int row = std::min(pixelHeight_ - 1, static_cast<int>(std::floor((y - bottom_) * scale_)));
    glReadPixels(column, row, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    rgb[0] = rgba[0];
    rgb[1] = rgba[1];
    rgb[2] = rgba[2];
    return true;
}

}  // namespace xpsim
