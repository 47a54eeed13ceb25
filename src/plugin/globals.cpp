// The plugin's module-lifetime state, defined in one place. The objects built at load are
// listed in the order they must be built (and are destroyed in reverse at unload); the
// others are constant-initialised and order-free.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
#include "pipeline/frame.h"
#include "plugin/commands.h"
#include "plugin/settings.h"

// Built at load, in this order. The browser's references live in its backend.
CSimpleIniA settingsIni;
std::thread decodeThread;
std::deque<PngBuffer> pngQueue;
std::vector<std::uint8_t> uploadPixels;
std::vector<std::uint8_t> framePixels;
std::wstring webUrl = defaultWebUrlWide;

// Settings (their start values equal the defaults, so a missing file changes nothing).
float zoomLevel = 0.5f;
int refreshWebPageSecs = 60;
PanelInput panelInput = PanelInput::Full;
FrameSource frameSource = FrameSource::Live;
float panelBrightness = 1.0f;
PanelColorScheme panelColorScheme = PanelColorScheme::Light;
PanelWheel panelWheel = PanelWheel::Zoom;

// Commands and panel.
XPLMCommandRef toggleCommand = nullptr;
XPLMCommandRef increaseZoomCommand = nullptr;
XPLMCommandRef decreaseZoomCommand = nullptr;
XPLMDataRef vrEnabledRef = nullptr;
XPLMWindowID panelWindow = nullptr;
int panelTexture = 0;
std::atomic<int> panelWidth{0};
std::atomic<int> panelHeight{0};
int uploadWidth = 0;
int uploadHeight = 0;

// Frame pipeline.
std::atomic<int> pageWidth{768};
std::atomic<int> pageHeight{512};
std::atomic<bool> stopDecoder{false};
std::mutex queueMutex;
std::condition_variable queueCondition;
std::atomic<bool> captureInFlight{false};
double lastCaptureTime = 0.0;
double lastRefreshTime = 0.0;
std::mutex frameMutex;
std::atomic<bool> frameUpdated{false};
