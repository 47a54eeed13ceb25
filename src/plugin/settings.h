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
// Records the current zoomLevel in the settings document (not the file).
void storeZoomLevel();
void saveSettings();
