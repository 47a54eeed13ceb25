#include "desktop_renderer.h"

#include "gl_context.h"

#include <algorithm>

#if defined(_WIN32)
#  include <windows.h>
#endif
#include <GL/gl.h>

namespace xpsim {
namespace {

// Values beyond OpenGL 1.1, which Windows' gl.h does not carry.
constexpr GLenum kTexture0 = 0x84C0;
constexpr GLenum kFramebuffer = 0x8D40;
constexpr GLenum kColorAttachment0 = 0x8CE0;

constexpr int kTitleStripHeight = 18;

template <typename F>
void loadProc(const GlContext& context, F& target, const char* name) {
    target = reinterpret_cast<F>(context.procAddress(name));
}

}  // namespace

DesktopRenderer::DesktopRenderer(const GlContext& context, int left, int top, int right, int bottom)
    : left_(left), top_(top), right_(right), bottom_(bottom) {
    loadProc(context, activeTexture_, "glActiveTexture");
    loadProc(context, genFramebuffers_, "glGenFramebuffers");
    loadProc(context, deleteFramebuffers_, "glDeleteFramebuffers");
    loadProc(context, bindFramebuffer_, "glBindFramebuffer");
    loadProc(context, framebufferTexture2D_, "glFramebufferTexture2D");
}

DesktopRenderer::~DesktopRenderer() {
    if (vrFramebuffer_ != 0 && deleteFramebuffers_ != nullptr) deleteFramebuffers_(1, &vrFramebuffer_);
    if (vrColour_ != 0) glDeleteTextures(1, &vrColour_);
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
    setProjection(left_, right_, bottom_, top_, right_ - left_, top_ - bottom_);
    resetCallbackState();
    glClearColor(0.10f, 0.12f, 0.15f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void DesktopRenderer::activeTexture(int unit) {
    if (activeTexture_ != nullptr) activeTexture_(kTexture0 + static_cast<unsigned>(unit));
}

void DesktopRenderer::resetCallbackState() {
    glViewport(0, 0, viewWidth_, viewHeight_);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(projLeft_, projRight_, projBottom_, projTop_, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    activeTexture(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDepthMask(GL_FALSE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void DesktopRenderer::drawDecoration(int left, int top, int right, int bottom, bool inFront) {
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
    glVertex2i(l, b); glVertex2i(left, b); glVertex2i(left, t); glVertex2i(l, t);
    glVertex2i(right, b); glVertex2i(r, b); glVertex2i(r, t); glVertex2i(right, t);
    glVertex2i(l, b); glVertex2i(r, b); glVertex2i(r, bottom); glVertex2i(l, bottom);
    glVertex2i(l, t - 1); glVertex2i(r, t - 1); glVertex2i(r, t); glVertex2i(l, t);
    glEnd();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void DesktopRenderer::beginVr(int width, int height) {
    if (genFramebuffers_ != nullptr && bindFramebuffer_ != nullptr && framebufferTexture2D_ != nullptr) {
        if (vrFramebuffer_ == 0) {
            genFramebuffers_(1, &vrFramebuffer_);
            glGenTextures(1, &vrColour_);
        }
        bindFramebuffer_(kFramebuffer, vrFramebuffer_);
        if (width != vrWidth_ || height != vrHeight_) {
            activeTexture(0);
            glBindTexture(GL_TEXTURE_2D, vrColour_);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            framebufferTexture2D_(kFramebuffer, kColorAttachment0, GL_TEXTURE_2D, vrColour_, 0);
            vrWidth_ = width;
            vrHeight_ = height;
        }
    }
    setProjection(0, width, 0, height, width, height);
    resetCallbackState();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void DesktopRenderer::endVr() {
    if (bindFramebuffer_ != nullptr) bindFramebuffer_(kFramebuffer, 0);
    setProjection(left_, right_, bottom_, top_, right_ - left_, top_ - bottom_);
    resetCallbackState();
}

unsigned DesktopRenderer::takeGlError() {
    const GLenum first = glGetError();
    if (first == GL_NO_ERROR) return 0;
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    return first;
}

bool DesktopRenderer::readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) {
    width = right_ - left_;
    height = top_ - bottom_;
    if (width <= 0 || height <= 0) return false;
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> bottomUp(row * static_cast<std::size_t>(height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    rgba.resize(bottomUp.size());
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* source = bottomUp.data() + row * static_cast<std::size_t>(height - 1 - y);
        std::copy(source, source + row, rgba.data() + row * static_cast<std::size_t>(y));
    }
    // A screen has no transparency: what a window wrote into alpha is not shown.
    for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    return true;
}

}  // namespace xpsim
