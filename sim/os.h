// The few operating-system services the host needs, one implementation per platform
// (os_posix.cpp, and a Win32 one for the Windows build).
#pragma once

#include <chrono>
#include <string>

namespace xpsim::os {

// Loads a module so that its undefined symbols resolve against the host's exports.
// Null with a message on failure.
void* loadModule(const std::string& path, std::string& error);
void* findSymbol(void* module, const char* name);
void unloadModule(void* module);
// True when the file at this path is still mapped into the process (e.g. after an unload
// the system refused to carry out).
bool moduleStillMapped(const std::string& path);

// Paths the host keeps are UTF-8 with the system's separators (on Windows too, where the
// conversions to UTF-16 happen in here).
std::string absolutePath(const std::string& path);
char pathSeparator();
// What a plugin is handed: native paths (UTF-8, '/') once it has enabled them, else the SDK's
// legacy form (on Windows the ANSI code page, which turns what it cannot spell into '?', and
// '\'). On Linux the two forms agree.
std::string nativePath(const std::string& path);
std::string legacyPath(const std::string& path);

// Sleeps until the given instant; never spins.
void sleepUntil(std::chrono::steady_clock::time_point when);

#if defined(_WIN32)
// --com-mta: the main thread joins COM's multithreaded apartment before a module is loaded,
// as another plugin could have made it; left again when the host goes.
bool enterMultithreadedApartment();
void leaveMultithreadedApartment();
#endif

}  // namespace xpsim::os
