// WGL on a hidden plain window: under Wine with Xvfb this is GLX on Mesa's llvmpipe, on
// Windows whatever driver is installed. The window is never shown; drawing goes to its
// back buffer, which the screenshot reads.
#include "gl_context.h"

#include <windows.h>
#include <GL/gl.h>

#include <cstdint>
#include <string>

namespace xpsim {
namespace {

constexpr wchar_t kWindowClass[] = L"XpsimOpenGL";

std::string lastError(const char* step) {
    return std::string(step) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// Under Wine a window needs an X display, and the first Wine process of a prefix fixes the
// display for every later one until its Wine server ends: a server left over from a command
// run without a display (winepath, say) makes every window fail for seconds.
constexpr const char* kWineDisplayHint =
    "; under Wine check that DISPLAY names a running X server with a 24-bit screen "
    "(xvfb-run -a -s \"-screen 0 1920x1080x24\"), and that no Wine server of this prefix was started "
    "without a display (wait for it with wineserver -w); scripts/xpsim-wine does all of this";

class WglContext final : public GlContext {
public:
    ~WglContext() override {
        if (context_ != nullptr) {
            wglMakeCurrent(nullptr, nullptr);
            wglDeleteContext(context_);
        }
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
        if (window_ != nullptr) DestroyWindow(window_);
        if (opengl_ != nullptr) FreeLibrary(opengl_);
    }

    bool create(int width, int height, std::string& error) {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassW(&windowClass);  // already there when a second host runs in this process
        window_ = CreateWindowExW(0, kWindowClass, L"xpsim", WS_POPUP, 0, 0, width, height, nullptr, nullptr, instance,
                                  nullptr);
        if (window_ == nullptr) {
            error = lastError("CreateWindowExW") + kWineDisplayHint;
            return false;
        }
        dc_ = GetDC(window_);
        PIXELFORMATDESCRIPTOR format{};
        format.nSize = sizeof format;
        format.nVersion = 1;
        format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
        format.iPixelType = PFD_TYPE_RGBA;
        format.cColorBits = 32;
        format.cAlphaBits = 8;
        format.cDepthBits = 24;
        format.iLayerType = PFD_MAIN_PLANE;
        const int chosen = ChoosePixelFormat(dc_, &format);
        if (chosen == 0 || !SetPixelFormat(dc_, chosen, &format)) {
            error = lastError("ChoosePixelFormat/SetPixelFormat") + kWineDisplayHint;
            return false;
        }
        context_ = wglCreateContext(dc_);
        if (context_ == nullptr) {
            error = lastError("wglCreateContext");
            return false;
        }
        if (!wglMakeCurrent(dc_, context_)) {
            error = lastError("wglMakeCurrent");
            return false;
        }
        // Draw into the back buffer and read it back from there; it is never presented.
        glDrawBuffer(GL_BACK);
        glReadBuffer(GL_BACK);
        opengl_ = LoadLibraryW(L"opengl32.dll");
        return true;
    }

    void* procAddress(const char* name) const override {
        // wglGetProcAddress knows only what lies beyond OpenGL 1.1 (and some drivers answer
        // small non-null values for unknown names).
        PROC entry = wglGetProcAddress(name);
        const auto value = reinterpret_cast<std::uintptr_t>(entry);
        if (value > 3 && value != static_cast<std::uintptr_t>(-1)) return reinterpret_cast<void*>(entry);
        return opengl_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(opengl_, name)) : nullptr;
    }

    std::string description() const override {
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        return std::string("WGL, ") + (renderer ? renderer : "?") + ", OpenGL " + (version ? version : "?");
    }

private:
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
    HGLRC context_ = nullptr;
    HMODULE opengl_ = nullptr;
};

}  // namespace

std::unique_ptr<GlContext> createGlContext(int width, int height, std::string& error) {
    auto context = std::make_unique<WglContext>();
    if (!context->create(width, height, error)) return nullptr;
    return context;
}

}  // namespace xpsim
