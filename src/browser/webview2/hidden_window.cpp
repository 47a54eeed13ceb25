#include "browser/webview2/webview2_state.h"


namespace {
constexpr wchar_t kHiddenWindowClass[] = L"WebView2HiddenForXPlane";
constexpr wchar_t kHiddenWindowTitle[] = L"HiddenWebView2";
}  // namespace

HWND hiddenWindow = nullptr;

HWND createHiddenWindow(HINSTANCE instance) {
    // DefWindowProcW lives in user32 and the instance is the simulator's executable, so the
    // class stays valid after this module is unloaded; a reload finds it registered, the
    // registration fails, and the old class is used as it is.
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kHiddenWindowClass;
    RegisterClassW(&windowClass);

    return CreateWindowExW(0, kHiddenWindowClass, kHiddenWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, pageWidth.load(), pageHeight.load(), nullptr, nullptr, instance, nullptr);
}
