#include "standin_browser.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com_callback.h"
#include "snapshot_pattern.h"
#include "standin_completions.h"
#include "standin_support.h"
#include "wic_png_encoder.h"

using Microsoft::WRL::ComPtr;

// The unused methods keep the parameter names of their declarations.
#if defined(__GNUC__)
#  pragma GCC diagnostic ignored "-Wunused-parameter"
#endif

namespace standin {

std::atomic<int> liveObjects{0};

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

// WIDTHxHEIGHT from CV_WEBVIEW2_SNAPSHOT_SIZE, 768 x 512 without it.
void snapshotSize(int& width, int& height) {
    width = 768;
    height = 512;
    const std::string size = environmentVariable("CV_WEBVIEW2_SNAPSHOT_SIZE");
    int w = 0, h = 0;
    if (std::sscanf(size.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
        width = w;
        height = h;
    }
}

// The corner-mark picture as a PNG into the stream; needs COM on this thread.
HRESULT writeSnapshotPng(IStream* stream, int width, int height) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    const std::vector<std::uint8_t> pixels = snapshot_pattern::bgra(width, height);
    return wic_png::encodeBgra(factory.Get(), stream, pixels.data(), pixels.size(), width, height);
}

constexpr DWORD kLateSnapshotMs = 12000;  // past the plugin's 10 s time-out

class WebView final : public WebViewBase, public Counted {
public:
    explicit WebView(HWND client) : client_(client) {}

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
        Completion completion;
        completion.what = "capture";
        completion.client = client_;
        completion.handler = handler;
        completion.object = imageStream;
        completion.answer = [imageFormat](Completion& c) {
            HRESULT result = E_FAIL;
            int width = 0, height = 0;
            snapshotSize(width, height);
            if (cue("fail-snapshot")) {
                record("capture failed");
            } else if (imageFormat != COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG) {
                record("capture failed: only PNG is served");
            } else {
                result = writeSnapshotPng(static_cast<IStream*>(c.object.Get()), width, height);
                record(format("capture done %dx%d hr=0x%08lX", width, height, static_cast<unsigned long>(result)));
            }
            return handlerOf<ICoreWebView2CapturePreviewCompletedHandler>(c)->Invoke(result);
        };
        if (cue("hold-snapshots")) {
            oweHeld(std::move(completion));
        } else if (cue("late-first-snapshot") && ++captures_ == 1) {
            record(format("capture delayed %lu s", kLateSnapshotMs / 1000));
            completion.what = "delayed capture";
            owe(std::move(completion), kLateSnapshotMs);
        } else {
            owe(std::move(completion));
        }
        return S_OK;
    }

private:
    HWND client_;
    int captures_ = 0;
};

class Controller final : public ControllerBase, public CompositionControllerBase, public Counted {
public:
    explicit Controller(HWND client) : client_(client) {}

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
        if (!view_) view_ = adoptComReference<ICoreWebView2>(new WebView(client_));
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
    HWND client_;
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
        Completion completion;
        completion.what = "controller";
        completion.client = parentWindow;
        completion.handler = handler;
        completion.answer = [parentWindow](Completion& c) {
            auto* handler = handlerOf<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler>(c);
            if (cue("fail-controller")) {
                record("controller failed");
                return handler->Invoke(E_FAIL, nullptr);
            }
            c.object = adoptComReference<IUnknown>(static_cast<ICoreWebView2Controller*>(new Controller(parentWindow)));
            ComPtr<ICoreWebView2CompositionController> controller;
            c.object->QueryInterface(IID_ICoreWebView2CompositionController,
                                     reinterpret_cast<void**>(controller.GetAddressOf()));
            record("controller ready");
            return handler->Invoke(S_OK, controller.Get());
        };
        owe(std::move(completion));
        return S_OK;
    }
};

}  // namespace

HRESULT createEnvironment(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    creatorThread();
    watchClient();
    Completion completion;
    completion.what = "environment";
    completion.client = firstHostWindowOfThisThread();
    completion.handler = handler;
    completion.answer = [](Completion& c) {
        auto* handler = handlerOf<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(c);
        if (cue("fail-environment")) {
            record("environment failed");
            return handler->Invoke(E_FAIL, nullptr);
        }
        c.object = adoptComReference<IUnknown>(static_cast<ICoreWebView2Environment3*>(new Environment()));
        record("environment ready");
        return handler->Invoke(S_OK, static_cast<ICoreWebView2Environment3*>(c.object.Get()));
    };
    owe(std::move(completion));
    return S_OK;
}

}  // namespace standin
