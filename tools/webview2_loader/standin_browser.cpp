#include "standin_browser.h"

#include <wrl/client.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/com_callback.h"
#include "standin_support.h"

using Microsoft::WRL::ComPtr;

// The unused methods keep the parameter names of their declarations.
#if defined(__GNUC__)
#  pragma GCC diagnostic ignored "-Wunused-parameter"
#endif

namespace standin {
namespace {

#define STANDIN_NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

// Every method answers E_NOTIMPL until a stand-in class overrides it.
struct WebViewBase : ICoreWebView2 {
    CV_WEBVIEW_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct ControllerBase : ICoreWebView2Controller {
    CV_CONTROLLER_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct CompositionControllerBase : ICoreWebView2CompositionController {
    CV_COMPOSITION_CONTROLLER_METHODS(STANDIN_NOT_IMPLEMENTED)
};
struct EnvironmentBase : ICoreWebView2Environment3 {
    CV_ENVIRONMENT_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_ENVIRONMENT2_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_ENVIRONMENT3_METHODS(STANDIN_NOT_IMPLEMENTED)
};

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

// Reference counting and the live-object count shared by the stand-in objects.
class Counted {
public:
    Counted() { ++liveObjects; }
    virtual ~Counted() { --liveObjects; }
    ULONG addReference() { return ++references_; }
    ULONG releaseReference() {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};

const DWORD* creatorThread() {
    static DWORD thread = GetCurrentThreadId();
    return &thread;
}

// The real browser calls back only on the thread that created it.
void checkThread(const char* what) {
    if (GetCurrentThreadId() != *creatorThread()) record(std::string("wrong-thread ") + what);
}

class WebView final : public WebViewBase, public Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2)) return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
        checkThread("navigate");
        record("navigate " + narrow(uri));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat,
                                             IStream* imageStream,
                                             ICoreWebView2CapturePreviewCompletedHandler* handler) override {
        checkThread("capture");
        if (imageStream == nullptr || handler == nullptr) return E_INVALIDARG;
        if (cue("refuse-snapshot")) {
            record("capture refused");
            return E_FAIL;
        }
        record(format("capture requested format=%d", static_cast<int>(imageFormat)));
        ComPtr<IStream> stream(imageStream);
        ComPtr<ICoreWebView2CapturePreviewCompletedHandler> completion(handler);
        post([stream, completion, imageFormat] {
            HRESULT result = E_FAIL;
            int width = 0, height = 0;
            snapshotSize(width, height);
            if (cue("fail-snapshot")) {
                record("capture failed");
            } else if (imageFormat != COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG) {
                record("capture failed: only PNG is served");
            } else {
                result = writeSnapshotPng(stream.Get(), width, height);
                record(format("capture done %dx%d hr=0x%08lX", width, height, static_cast<unsigned long>(result)));
            }
            completion->Invoke(result);
        });
        return S_OK;
    }
};

class Controller final : public ControllerBase, public CompositionControllerBase, public Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ICoreWebView2Controller))
            *object = static_cast<ICoreWebView2Controller*>(this);
        else if (IsEqualIID(id, IID_ICoreWebView2CompositionController))
            *object = static_cast<ICoreWebView2CompositionController*>(this);
        else
            return E_NOINTERFACE;
        addReference();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* isVisible) override {
        if (isVisible == nullptr) return E_POINTER;
        *isVisible = visible_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL isVisible) override {
        checkThread("visible");
        visible_ = isVisible;
        record(format("visible %d", static_cast<int>(isVisible)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
        if (bounds == nullptr) return E_POINTER;
        *bounds = bounds_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
        checkThread("bounds");
        bounds_ = bounds;
        record(format("bounds %ld,%ld,%ld,%ld", bounds.left, bounds.top, bounds.right, bounds.bottom));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* zoomFactor) override {
        if (zoomFactor == nullptr) return E_POINTER;
        *zoomFactor = zoom_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_ZoomFactor(double zoomFactor) override {
        checkThread("zoom");
        record(format("zoom %f", zoomFactor));
        // The browser refuses factors it cannot show and keeps the one it had.
        if (!(zoomFactor > 0.0)) return E_INVALIDARG;
        zoom_ = zoomFactor;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** coreWebView2) override {
        if (coreWebView2 == nullptr) return E_POINTER;
        *coreWebView2 = nullptr;
        if (cue("no-view")) {
            record("view none");
            return S_OK;
        }
        if (!view_) view_ = adoptComReference<ICoreWebView2>(new WebView());
        *coreWebView2 = view_.Get();
        view_->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND eventKind,
                                             COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS virtualKeys, UINT32 mouseData,
                                             POINT point) override {
        checkThread("mouse");
        record(format("mouse kind=0x%X keys=%d data=%u x=%ld y=%ld", static_cast<unsigned>(eventKind),
                      static_cast<int>(virtualKeys), static_cast<unsigned>(mouseData), point.x, point.y));
        return S_OK;
    }

private:
    BOOL visible_ = FALSE;
    RECT bounds_{};
    double zoom_ = 1.0;
    ComPtr<ICoreWebView2> view_;
};

std::string describeWindow(HWND window) {
    if (window == nullptr) return "parent=none";
    wchar_t className[128] = {};
    wchar_t title[128] = {};
    GetClassNameW(window, className, 128);
    GetWindowTextW(window, title, 128);
    RECT rect{};
    GetWindowRect(window, &rect);
    return format("parent-class=%s parent-title=%s parent-size=%ldx%ld parent-visible=%d",
                  narrow(className).c_str(), narrow(title).c_str(), rect.right - rect.left, rect.bottom - rect.top,
                  IsWindowVisible(window) ? 1 : 0);
}

class Environment final : public EnvironmentBase, public Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        const bool newer = IsEqualIID(id, IID_ICoreWebView2Environment2) || IsEqualIID(id, IID_ICoreWebView2Environment3);
        if (newer && cue("no-environment3")) return E_NOINTERFACE;
        if (!newer && !IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_ICoreWebView2Environment))
            return E_NOINTERFACE;
        *object = static_cast<ICoreWebView2Environment3*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE CreateCoreWebView2CompositionController(
        HWND parentWindow, ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler* handler) override {
        checkThread("create-controller");
        if (handler == nullptr) return E_INVALIDARG;
        record("create-controller " + describeWindow(parentWindow) + " apartment=" + apartment());
        if (cue("refuse-controller")) {
            record("controller refused");
            return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
        }
        ComPtr<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler> completion(handler);
        post([completion] {
            if (cue("fail-controller")) {
                record("controller failed");
                completion->Invoke(E_FAIL, nullptr);
                return;
            }
            ComPtr<ICoreWebView2CompositionController> controller =
                adoptComReference<ICoreWebView2CompositionController>(new Controller());
            record("controller ready");
            completion->Invoke(S_OK, controller.Get());
        });
        return S_OK;
    }
};

}  // namespace

ICoreWebView2Environment3* newEnvironment() {
    creatorThread();
    return new Environment();
}

}  // namespace standin
