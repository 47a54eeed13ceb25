// File paths as the simulator hands them to us. Main thread only.
#pragma once

#include <string>

// Asks the simulator for native paths (UTF-8 text, '/' between folders, on every platform).
// Must run before the first path is read. With the SDK's legacy paths, Windows paths come in
// the ANSI code page, which cannot spell many pilots' user folders (Greek, Cyrillic, Chinese
// names...), and such a pilot would get no settings and no browser.
void enableNativePaths();

// The module's folder with a trailing separator, in the simulator's path form.
std::string getPluginFolder();

#if defined(_WIN32)
// A path from the simulator as UTF-16 with backslashes, for the wide Win32 file functions.
// Empty when the text is not valid in its encoding.
std::wstring toWidePath(const std::string& path);
#endif
