#include "plugin/color_scheme.h"

#include "browser/browser.h"
#include "platform/flight_loop.h"
#include "platform/xplm.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace {

// Daylight changes over minutes; a look at the sun once a minute follows it closely enough.
constexpr double sunCheckPeriod = 60.0;
constexpr char sunPitchDataref[] = "sim/graphics/scenery/sun_pitch_degrees";

XPLMDataRef sunPitchRef = nullptr;
bool sunPitchLookedUp = false;
double lastSunCheck = 0.0;
bool sunChecked = false;
bool dark = false;

// Dark while the sun is below the horizon. A simulator without the dataref keeps the light one.
bool sunIsDown() {
    if (!sunPitchLookedUp) {
        sunPitchLookedUp = true;
        sunPitchRef = XPLMFindDataRef(sunPitchDataref);
    }
    return sunPitchRef != nullptr && XPLMGetDataf(sunPitchRef) < 0.0f;
}

float ColorSchemeFlightLoop(float, float, int, void*) {
    guarded("CV: could not follow the colour scheme", [] { runColorScheme(XPLMGetElapsedTime()); });
    // A browser started again is told the scheme at its bring-up; only the sun needs looking at.
    return static_cast<float>(sunCheckPeriod);
}

FlightLoop colorSchemeLoop{ColorSchemeFlightLoop};

}  // namespace

void startColorScheme() {
    runColorScheme(XPLMGetElapsedTime());
    colorSchemeLoop.start();
}

void stopColorScheme() {
    colorSchemeLoop.stop();
    resetColorScheme();
}

void runColorScheme(double now) {
    switch (panelColorScheme) {
    case PanelColorScheme::Light: dark = false; break;
    case PanelColorScheme::Dark: dark = true; break;
    case PanelColorScheme::Auto:
        if (!sunChecked || now - lastSunCheck >= sunCheckPeriod) {
            sunChecked = true;
            lastSunCheck = now;
            dark = sunIsDown();
        }
        break;
    }
    setBrowserColorScheme(dark);
}

void resetColorScheme() {
    sunPitchRef = nullptr;
    sunPitchLookedUp = false;
    sunChecked = false;
    dark = false;
}
