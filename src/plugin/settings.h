#pragma once

#include <string>

// Debian's SimpleIni compiles its template bodies only with SI_IMPLEMENTATION (otherwise it
// expects libsimpleini.so, which a simulator does not have); the module carries them itself.
// It also pulls in the UTF-8 helpers of its wide-character document unless told not to; we
// only use the narrow document, so Linux builds go without them. Windows keeps the library's
// default (Win32 conversion).
#if !defined(SI_IMPLEMENTATION)
#    define SI_IMPLEMENTATION
#endif
#if !defined(_WIN32) && !defined(SI_NO_CONVERSION)
#    define SI_NO_CONVERSION
#endif
#include <SimpleIni.h>

// Settings document and the values read from it at start-up. Main thread only.
extern CSimpleIniA settingsIni;
extern float zoomLevel;
extern int refreshWebPageSecs;
extern std::wstring webUrl;

// "PanelInput": what of the pilot's input reaches the page. Full: clicks, drags, hovering and
// typing; Clicks: left clicks only, and the panel never takes the keyboard.
enum class PanelInput { Full, Clicks };
extern PanelInput panelInput;

// "FrameSource": how the page's pictures reach the panel. Live: a frame each time the page
// repaints, none while it does not (snapshots when the browser offers no frames); Snapshots:
// a PNG snapshot twice a second while the panel is shown.
enum class FrameSource { Live, Snapshots };
extern FrameSource frameSource;

// "PanelBrightness": how bright the panel's picture is drawn, from 0.1 to 1.0 (full).
inline constexpr float minPanelBrightness = 0.1f;
inline constexpr float maxPanelBrightness = 1.0f;
extern float panelBrightness;

// "PanelColorScheme": the colour scheme the page is told the pilot prefers. Auto follows the
// simulator's daylight.
enum class PanelColorScheme { Light, Dark, Auto };
extern PanelColorScheme panelColorScheme;

// "PanelWheel": what the wheel does over the panel. Zoom: the zoom steps; Scroll: scrolls the
// page under the pointer.
enum class PanelWheel { Zoom, Scroll };
extern PanelWheel panelWheel;

// Where the panel was at the last stop: "PanelMode" (inside or popout), the floating window's
// rectangle in boxels and the popped-out window's in desktop pixels. Written at stop only.
inline constexpr char panelModeKey[] = "PanelMode";
inline constexpr char panelLeftKey[] = "PanelLeft";
inline constexpr char panelTopKey[] = "PanelTop";
inline constexpr char panelRightKey[] = "PanelRight";
inline constexpr char panelBottomKey[] = "PanelBottom";
inline constexpr char popOutLeftKey[] = "PopOutLeft";
inline constexpr char popOutTopKey[] = "PopOutTop";
inline constexpr char popOutRightKey[] = "PopOutRight";
inline constexpr char popOutBottomKey[] = "PopOutBottom";

// The page shown when the settings name none: the same address as narrow text (the default of
// the "WebURL" lookup) and as wide text (the start value of webUrl).
inline constexpr char defaultWebUrl[] = "https://panel.corvane.ai/";
inline constexpr wchar_t defaultWebUrlWide[] = L"https://panel.corvane.ai/";

// The settings file beside the module: getPluginFolder() + "cv_settings.ini".
std::string getSettingsPath();
// Narrow text to wide: the ANSI code page on Windows, UTF-8 on Linux. Null gives "".
std::wstring toWideString(const char* text);
void loadSettings();
// loadSettings and saveSettings on a given file. A file that exists but could not be read is
// never written over: saveSettingsTo then leaves it as it is and says so in the log.
void loadSettingsFrom(const std::string& path);
void saveSettingsTo(const std::string& path);
// Records the current zoomLevel / panelBrightness in the settings document (not the file).
void storeZoomLevel();
void storePanelBrightness();
// Records a value of the [General] section in the document (not the file).
void storeSetting(const char* key, float value);
void storeSetting(const char* key, int value);
void storeSetting(const char* key, const char* value);
// A value of the [General] section as the document holds it; null when it has none.
const char* storedSetting(const char* key);
void saveSettings();
