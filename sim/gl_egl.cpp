// EGL on Mesa's surfaceless platform: no X server or GPU needed, llvmpipe renders into a
// pbuffer the size of the desktop.
#include "gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

namespace xpsim {
namespace {

std::string eglErrorText(const char* step) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (EGL error 0x%04X)", step, static_cast<unsigned>(eglGetError()));
    return text;
}

class EglContext final : public GlContext {
public:
    ~EglContext() override {
        if (display_ == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context_ != EGL_NO_CONTEXT) eglDestroyContext(display_, context_);
        if (surface_ != EGL_NO_SURFACE) eglDestroySurface(display_, surface_);
        // The display stays initialised: the next host in this process reuses it, and the
        // driver stays mapped, so the sanitizers can tell its allocations from ours.
    }

    bool create(int width, int height, std::string& error) {
#if defined(__SANITIZE_THREAD__)
        // llvmpipe's rendering threads synchronise inside the uninstrumented driver, which
        // ThreadSanitizer reports as races; rendering on the calling thread avoids them.
        setenv("LP_NUM_THREADS", "0", 0);
#endif
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (getPlatformDisplay == nullptr) {
            error = "eglGetPlatformDisplayEXT is not available";
            return false;
        }
        display_ = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY) {
            error = eglErrorText("eglGetPlatformDisplayEXT(surfaceless)");
            return false;
        }
        EGLint major = 0, minor = 0;
        if (!eglInitialize(display_, &major, &minor)) {
            error = eglErrorText("eglInitialize");
            return false;
        }
        if (!eglBindAPI(EGL_OPENGL_API)) {
            error = eglErrorText("eglBindAPI(OpenGL)");
            return false;
        }
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                           EGL_PBUFFER_BIT,
                                           EGL_RENDERABLE_TYPE,
                                           EGL_OPENGL_BIT,
                                           EGL_RED_SIZE,
                                           8,
                                           EGL_GREEN_SIZE,
                                           8,
                                           EGL_BLUE_SIZE,
                                           8,
                                           EGL_ALPHA_SIZE,
                                           8,
                                           EGL_DEPTH_SIZE,
                                           24,
                                           EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) {
            error = eglErrorText("eglChooseConfig(pbuffer, OpenGL, RGBA8)");
            return false;
        }
        const EGLint surfaceAttributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
        surface_ = eglCreatePbufferSurface(display_, config, surfaceAttributes);
        if (surface_ == EGL_NO_SURFACE) {
            error = eglErrorText("eglCreatePbufferSurface");
            return false;
        }
        const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
        if (context_ == EGL_NO_CONTEXT) {
            error = eglErrorText("eglCreateContext(compatibility profile)");
            return false;
        }
        if (!eglMakeCurrent(display_, surface_, surface_, context_)) {
            error = eglErrorText("eglMakeCurrent");
            return false;
        }
        return true;
    }

    void* procAddress(const char* name) const override { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

    std::string description() const override {
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        return std::string("EGL surfaceless, ") + (renderer ? renderer : "?") + ", OpenGL " + (version ? version : "?");
    }

private:
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLSurface surface_ = EGL_NO_SURFACE;
    EGLContext context_ = EGL_NO_CONTEXT;
};

}  // namespace

std::unique_ptr<GlContext> createGlContext(int width, int height, std::string& error) {
    auto context = std::make_unique<EglContext>();
    if (!context->create(width, height, error)) return nullptr;
    return context;
}

}  // namespace xpsim
