// Plugin features as X-Plane's SDK describes them: a plugin "signs up" for a named feature
// with XPLMEnableFeature, and the choice is its own. The host offers XPLM_USE_NATIVE_PATHS:
// until a plugin enables it, the paths it is given are legacy ones (on Windows the ANSI code
// page and '\'); after, UTF-8 with '/' on every platform.
#include "host_state.h"

#include "os.h"

#include <cstring>

namespace xpsim {
namespace {

constexpr const char* kNativePaths = "XPLM_USE_NATIVE_PATHS";

}  // namespace

bool HostState::hasFeature(const char* name) const { return name != nullptr && std::strcmp(name, kNativePaths) == 0; }

void HostState::enableFeature(const char* name, bool enable) {
    if (!hasFeature(name)) {
        hostLine(std::string("XPLMEnableFeature of unknown feature ") + (name != nullptr ? name : "(null)") +
                 " ignored");
        return;
    }
    if (currentPlugin_ == inProcess_.id) {
        inProcess_.nativePaths = enable;
    } else if (module_ != nullptr && currentPlugin_ == plugin_.id) {
        plugin_.nativePaths = enable;
    }
}

std::string HostState::pathForCaller(const std::string& path) const {
    bool found = false;
    const PluginRecord caller = pluginById(currentPlugin_, found);
    return found && caller.nativePaths ? os::nativePath(path) : os::legacyPath(path);
}

}  // namespace xpsim
