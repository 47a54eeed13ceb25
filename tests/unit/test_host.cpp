#include "test_host.h"

#include <memory>
#include <mutex>

#include "panel/panel_input.h"
#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/frame.h"

xpsim::Host& testHost() {
    static std::unique_ptr<xpsim::Host> host = [] {
        xpsim::Options options;
        options.paced = false;
        options.logFile = "/dev/null";
        return std::make_unique<xpsim::Host>(options);
    }();
    return *host;
}

std::string newLogText() {
    static std::size_t logSeen = 0;
    const std::string log = testHost().log();
    const std::string added = log.size() > logSeen ? log.substr(logSeen) : std::string();
    logSeen = log.size();
    return added;
}

void makePanelLikeWindow(int left, int top, int right, int bottom) {
    XPLMCreateWindow_t params{};
    params.structSize = sizeof params;
    params.left = left;
    params.top = top;
    params.right = right;
    params.bottom = bottom;
    params.visible = 1;
    params.drawWindowFunc = drawPanelWindow;
    params.handleMouseClickFunc = handlePanelMouseClick;
    params.handleKeyFunc = handlePanelKey;
    params.handleCursorFunc = handlePanelCursor;
    params.handleMouseWheelFunc = handlePanelWheel;
    params.handleRightClickFunc = handlePanelRightClick;
    params.layer = xplm_WindowLayerFloatingWindows;
    destroyPanelWindow();
    panelWindow = XPLMCreateWindowEx(&params);
}

void publishFrame(std::vector<std::uint8_t> pixels, int w, int h) {
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        framePixels = std::move(pixels);
        ++frameSerial;
        pageWidth = w;
        pageHeight = h;
    }
    frameUpdated = true;
}
