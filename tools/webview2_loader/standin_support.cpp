#include "standin_support.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cstdio>
#include <deque>
#include <sstream>

#include "snapshot_pattern.h"
#include "wic_png_encoder.h"

using Microsoft::WRL::ComPtr;

extern HINSTANCE standinInstance;

namespace standin {

std::atomic<int> liveObjects{0};

namespace {

constexpr wchar_t kTaskWindowClass[] = L"StandInWebView2Tasks";
constexpr UINT kRunTask = WM_APP + 0x2A;

HWND taskWindow = nullptr;
std::deque<std::function<void()>> pendingTasks;

LRESULT CALLBACK taskWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kRunTask) return DefWindowProcW(window, message, wParam, lParam);
    if (pendingTasks.empty()) return 0;
    std::function<void()> task = std::move(pendingTasks.front());
    pendingTasks.pop_front();
    task();
    return 0;
}

bool ensureTaskWindow() {
    if (taskWindow != nullptr) return true;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = taskWindowProc;
    windowClass.hInstance = standinInstance;
    windowClass.lpszClassName = kTaskWindowClass;
    RegisterClassW(&windowClass);
    taskWindow = CreateWindowExW(0, kTaskWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, standinInstance,
                                 nullptr);
    if (taskWindow == nullptr) record("error no-task-window");
    return taskWindow != nullptr;
}

}  // namespace

// The process environment itself, not the C runtime's copy of it: a test that sets a variable
// with SetEnvironmentVariable in this process is seen at once.
std::string environmentVariable(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void record(const std::string& line) {
    const std::string path = environmentVariable("CV_WEBVIEW2_RECORD");
    if (path.empty()) return;
    if (FILE* file = std::fopen(path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

bool cue(const char* name) {
    std::stringstream list(environmentVariable("CV_WEBVIEW2_CUES"));
    std::string item;
    while (std::getline(list, item, ','))
        if (item == name) return true;
    return false;
}

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

void post(std::function<void()> task) {
    if (!ensureTaskWindow()) return;
    pendingTasks.push_back(std::move(task));
    PostMessageW(taskWindow, kRunTask, 0, 0);
}

void dropPendingTasks() {
    // Moved out first: releasing a task's handler may run code that posts again.
    while (!pendingTasks.empty()) {
        std::deque<std::function<void()>> dropped;
        dropped.swap(pendingTasks);
    }
    if (taskWindow != nullptr) {
        DestroyWindow(taskWindow);
        taskWindow = nullptr;
    }
    UnregisterClassW(kTaskWindowClass, standinInstance);
}

std::string apartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) return "none";
    switch (type) {
    case APTTYPE_STA:
    case APTTYPE_MAINSTA:
        return "sta";
    case APTTYPE_MTA:
        return "mta";
    default:
        return "other";
    }
}

HRESULT writeSnapshotPng(IStream* stream, int width, int height) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) return hr;
    const std::vector<std::uint8_t> pixels = snapshot_pattern::bgra(width, height);
    return wic_png::encodeBgra(factory.Get(), stream, pixels.data(), pixels.size(), width, height);
}

std::string narrow(const wchar_t* text) {
    if (text == nullptr) return "(null)";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string out(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace standin
