#include "os.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <thread>

namespace xpsim::os {

void* loadModule(const std::string& path, std::string& error) {
    // RTLD_NOW: an unresolved XPLM name fails here, as in the real simulator, rather than
    // crashing later in the middle of a frame.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "dlopen failed";
    }
    return handle;
}

void* findSymbol(void* module, const char* name) { return dlsym(module, name); }

void unloadModule(void* module) { dlclose(module); }

bool moduleStillMapped(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

std::string absolutePath(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

char pathSeparator() { return '/'; }

std::string nativePath(const std::string& path) { return path; }

std::string legacyPath(const std::string& path) { return path; }

void sleepUntil(std::chrono::steady_clock::time_point when) { std::this_thread::sleep_until(when); }

}  // namespace xpsim::os
