// The five entry points X-Plane calls, all on its main thread: start-up and shutdown create
// and release everything in one fixed order. Nothing may throw into the simulator.
#include <cstdio>
#include <system_error>

#include "browser/browser.h"
#include "panel/panel_input.h"
#include "panel/panel_place.h"
#include "panel/panel_texture.h"
#include "panel/panel_window.h"
#include "pipeline/capture.h"
#include "pipeline/decode_worker.h"
#include "pipeline/live_frames.h"
#include "platform/flight_loop.h"
#include "platform/xplm.h"
#include "plugin/color_scheme.h"
#include "plugin/commands.h"
#include "plugin/log.h"
#include "plugin/paths.h"
#include "plugin/settings.h"

namespace {

// What start-up has registered so far, so that an early way out releases exactly that.
bool browserThreadEntered = false;
bool commandHandlersRegistered = false;
FlightLoop panelFlightLoop{PanelFlightLoop};

// Everything start-up created, released in shutdown order: the decode thread first (it must
// not outlive what it feeds), the browser and its threading model last.
void releaseEverything() {
    guarded("CV: could not stop the decode thread", stopDecodeThread);
    panelFlightLoop.stop();
    if (commandHandlersRegistered) {
        unregisterCommands();
        commandHandlersRegistered = false;
    }
    destroyPanelWindow();
    deletePanelTexture();
    if (browserThreadEntered) {
        browserThreadEntered = false;
        guarded("CV: could not stop the browser", stopBrowser);
    }
    abandonCapture();
    resetLiveFrames();
    stopColorScheme();
    resetPanelPlace();
}

// X-Plane gives a plugin whose start fails no stop and unloads it, so nothing start-up made
// may stay behind: the menu, which a normal stop leaves in place, goes too.
void undoStart() {
    releaseEverything();
    destroyPluginMenu();
}

void copyText(char* out, const char* text) {
    // The host's buffers hold at least 256 bytes.
    std::snprintf(out, 256, "%s", text);
}

// A start that fails says why in the description, which Plugin Admin shows beside the plugin.
int startFailed(char* outDescription, const char* reason) {
    copyText(outDescription, reason);
    return 0;
}

}  // namespace

PLUGIN_EXPORT int XPluginStart(char* outName, char* outSignature, char* outDescription) {
    try {
        XPLMDebugString("Pluginstart: Corvane Toolbar v" CV_VERSION "\n");
        enableNativePaths();
        loadSettings();
        if (!initBrowserThread()) {
            return startFailed(outDescription,
                               "Not started: the simulator's main thread could not be prepared for the browser "
                               "(see Log.txt).");
        }
        browserThreadEntered = true;

        copyText(outName, "CorvaneToolbar");
        copyText(outSignature, "ai.corvane.plugin");
        copyText(outDescription, "A plugin that creates a panel for Corvane.");

        createCommands();
        commandHandlersRegistered = true;
        createPanelTexture();
        vrEnabledRef = XPLMFindDataRef("sim/graphics/VR/enabled");
        createPanelWindow();
        createPluginMenu();
        createBrowserHostWindow();
        setBlankPanelImage();
        // Before the browser, whose first page is told the pilot's colour scheme.
        startColorScheme();
        startBrowser();

        try {
            startDecodeThread();
        } catch (const std::system_error&) {
            XPLMDebugString("CV: could not start the decode thread\n");
            undoStart();
            return startFailed(outDescription, "Not started: the decode thread could not be started.");
        }
        panelFlightLoop.start();

        if (vrEnabledRef == nullptr) {
            XPLMDebugString("CV: sim/graphics/VR/enabled not found, the plugin does not start\n");
            undoStart();
            return startFailed(outDescription, "Not started: the simulator does not publish sim/graphics/VR/enabled.");
        }
        return 1;
    } catch (...) {
        XPLMDebugString("CV: start-up failed\n");
        guarded("CV: could not undo the start-up", undoStart);
        return startFailed(outDescription, "Not started: start-up failed (see Log.txt).");
    }
}

PLUGIN_EXPORT void XPluginStop(void) {
    guarded("CV: could not keep the panel's place", keepPanelPlace);
    guarded("CV: could not save the settings", saveSettings);
    guarded("CV: shutdown failed", releaseEverything);
}

PLUGIN_EXPORT int XPluginEnable(void) { return 1; }

// A disabled plugin gets no callbacks: nothing may stay held for it, the keyboard least of all.
PLUGIN_EXPORT void XPluginDisable(void) {
    guarded("CV: could not stop the panel's input", stopPanelInput);
    stopLiveFrames();
}

PLUGIN_EXPORT void XPluginReceiveMessage(XPLMPluginID inFrom, int inMessage, void*) {
    if (inFrom != XPLM_PLUGIN_XPLANE) return;
    guarded("CV: message handler failed", [inMessage] { handleVrMessage(inMessage); });
}
