#include "host.h"

#include "host_state.h"
#include "script.h"

#include <stdexcept>

namespace xpsim {

struct Host::Impl : HostState {
    explicit Impl(const Options& options) : HostState(options) {}
};

namespace {
bool g_hostAlive = false;
}

Host::Host(const Options& options) {
    if (g_hostAlive) throw std::logic_error("xpsim: only one Host may exist at a time");
    setCurrentHostState(nullptr);  // the default host, if test code made one, gives way first
    resetHostInterrupt();
    impl_ = new Impl(options);
    g_hostAlive = true;
    setCurrentHostState(impl_);
}

Host::~Host() {
    delete impl_;
    setCurrentHostState(nullptr);
    g_hostAlive = false;
}

// Every entry into the host takes its lock, which a module's stray worker threads take too.
// Load and script errors go to the log too, so a log read on its own tells the whole story.
bool Host::load(const std::string& modulePath, std::string& error) {
    std::lock_guard<HostLock> lock(impl_->lock());
    if (impl_->loadModule(modulePath, error)) return true;
    impl_->hostLine("error: " + error);
    return false;
}

bool Host::run(const std::string& script, std::string& error) {
    std::lock_guard<HostLock> lock(impl_->lock());
    if (runScript(*impl_, script, error)) return true;
    impl_->hostLine("error: " + error);
    return false;
}

bool Host::pluginLoaded() const {
    std::lock_guard<HostLock> lock(impl_->lock());
    return impl_->moduleLoaded() && impl_->plugin().started;
}

std::string Host::log() const { return impl_->logText(); }

std::string Host::stateJson() const {
    std::lock_guard<HostLock> lock(impl_->lock());
    return impl_->stateJson();
}

void Host::runFrames(int n) {
    std::lock_guard<HostLock> lock(impl_->lock());
    if (n > 0) impl_->runFrames(n);
}

void Host::requestInterrupt() { requestHostInterrupt(); }

double Host::elapsedTime() const {
    std::lock_guard<HostLock> lock(impl_->lock());
    return impl_->elapsedTime();
}

bool Host::readDesktop(std::vector<std::uint8_t>& rgba, int& width, int& height) const {
    std::lock_guard<HostLock> lock(impl_->lock());
    return impl_->readDesktop(rgba, width, height);
}

bool Host::screenshot(const std::string& pngPath, std::string& error) const {
    std::lock_guard<HostLock> lock(impl_->lock());
    return impl_->screenshot(pngPath, error);
}

}  // namespace xpsim
