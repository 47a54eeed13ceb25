#pragma once

#include <string>

#include <SimpleIni.h>

// Settings document and the three values read from it at start-up. Main thread only.
extern CSimpleIniA settingsIni;
extern float zoomLevel;
extern int refreshWebPageSecs;
extern std::wstring webUrl;

// The module's folder with a trailing separator.
std::string getPluginFolder();
// Narrow text to wide: the ANSI code page on Windows, UTF-8 on Linux. Null gives "".
std::wstring toWideString(const char* text);
void loadSettings();
// Records the current zoomLevel in the settings document (not the file).
void storeZoomLevel();
void saveSettings();
