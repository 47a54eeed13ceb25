// The host's own drawing: the desktop background, window decorations, the GL state a draw
// callback starts from, the offscreen target of windows in VR, and reading the desktop back.
#pragma once

#include <cstdint>
#include <vector>

namespace xpsim {

class GlContext;
struct HostileGl;

// The desktop's extent in pixels: `boxels` at `scale` pixels per boxel.
int desktopPixels(int boxels, double scale);

class DesktopRenderer {
public:
    // The desktop spans global boxels [left, right) x [bottom, top), drawn at `scale` pixels
    // per boxel (the user-interface scale): draw callbacks work in boxels, the framebuffer and
    // what is read back are pixels.
    DesktopRenderer(const GlContext& context, int left, int top, int right, int bottom, double scale = 1.0);
    ~DesktopRenderer();
    DesktopRenderer(const DesktopRenderer&) = delete;
    DesktopRenderer& operator=(const DesktopRenderer&) = delete;

    void beginDesktop();  // clears the desktop; projection in global boxels, y up
    // A plain frame and a title strip drawn outside the window rectangle (above its top edge),
    // so every pixel inside the rectangle is the window's own.
    void drawDecoration(int left, int top, int right, int bottom, bool inFront);
    // The host's own state, which its drawing relies on, whatever a callback left behind; with
    // --clean-gl also the state every draw callback starts from: the current target bound with
    // its projection, texture unit 0 active with no texture bound, texturing (units 0-3),
    // blending, lighting, fog, alpha, depth and scissor tests off, colour white, no pixel
    // buffer bound and the pixel-store defaults, face culling off and polygons filled, and
    // on units 0-3 the MODULATE texture environment, an identity texture matrix and no
    // generated texture coordinates.
    void resetCallbackState();
    // On top of that, the hostile state of one draw callback: the unpack buffer bound, the
    // unpack parameters and blending set, face culling on, unit 0's texture environment and
    // texture matrix changed, and another texture unit made active.
    void applyHostile(const HostileGl& state);
    // A small loud texture of the host's, which the hostile state leaves bound.
    unsigned decoyTexture() const { return decoyTexture_; }
    void bindTextureOnUnit(int unit, unsigned texture);
    // False when the context has no buffer objects (OpenGL before 1.5): no unpack buffer can
    // be bound in it, by the host or by anyone else.
    bool hasUnpackBuffer() const { return unpackBuffer_ != 0; }

    // Renders into an offscreen target of pixelWidth x pixelHeight with the projection (0,
    // width, 0, height), for a window in VR or popped out; endVr() returns to the desktop.
    void beginVr(int width, int height, int pixelWidth, int pixelHeight);
    void endVr();
    // The offscreen target as last drawn, as RGBA rows of pixels, top row first; false before
    // anything was drawn there.
    bool readOffscreen(std::vector<std::uint8_t>& rgba, int& width, int& height);

    void activeTexture(int unit);
    // The first pending GL error, clearing all pending ones; 0 when there is none.
    unsigned takeGlError();
    // The desktop as RGBA rows of pixels, top row first.
    bool readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height);
    // The colour of the desktop pixel at the bottom-left corner of global boxel (x, y) (the
    // pixel covering the boxel when a boxel is one pixel); false off the desktop.
    bool readPixel(int x, int y, std::uint8_t rgb[3]);

private:
    bool readTarget(unsigned target, int width, int height, std::vector<std::uint8_t>& rgba);
    void setProjection(double left, double right, double bottom, double top, int width, int height);

    int left_, top_, right_, bottom_;
    double scale_;
    int pixelWidth_, pixelHeight_;  // the desktop's framebuffer
    // Entry points beyond OpenGL 1.1, taken from the context.
    void (*activeTexture_)(unsigned) = nullptr;
    void (*genFramebuffers_)(int, unsigned*) = nullptr;
    void (*deleteFramebuffers_)(int, const unsigned*) = nullptr;
    void (*bindFramebuffer_)(unsigned, unsigned) = nullptr;
    void (*framebufferTexture2D_)(unsigned, unsigned, unsigned, unsigned, int) = nullptr;
    void (*genBuffers_)(int, unsigned*) = nullptr;
    void (*deleteBuffers_)(int, const unsigned*) = nullptr;
    void (*bindBuffer_)(unsigned, unsigned) = nullptr;
    void (*bufferData_)(unsigned, std::intptr_t, const void*, unsigned) = nullptr;
    unsigned unpackBuffer_ = 0;
    unsigned decoyTexture_ = 0;
    unsigned target_ = 0;  // the framebuffer being drawn: 0 (the desktop) or the VR one
    unsigned vrFramebuffer_ = 0;
    unsigned vrColour_ = 0;
    int vrWidth_ = 0, vrHeight_ = 0;
    // The projection a draw callback gets.
    double projLeft_ = 0, projRight_ = 0, projBottom_ = 0, projTop_ = 0;
    int viewWidth_ = 0, viewHeight_ = 0;
};

}  // namespace xpsim
