#include "plugin_sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string temporaryFolder(const std::string& name) {
    std::string pattern = (fs::temp_directory_path() / ("cv_" + name + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    return pattern;
}

}  // namespace

PluginSandbox::PluginSandbox(const std::string& name)
    : folder(temporaryFolder(name)), pluginFolder(folder + "/Corvane_Toolbar/lin_x64") {
    if (const char* data = std::getenv("XDG_DATA_HOME")) savedDataHome_ = data;
    ::setenv("XDG_DATA_HOME", file("data").c_str(), 1);
    fs::create_directories(pluginFolder);
    fs::copy_file(CV_MODULE_PATH, module());
}

PluginSandbox::~PluginSandbox() {
    if (savedDataHome_) {
        ::setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

void PluginSandbox::settings(const std::string& lines) const {
    std::ofstream(pluginFolder + "/cv_settings.ini", std::ios::binary) << "[General]\n" << lines;
}

std::unique_ptr<xpsim::Host> PluginSandbox::startHost(xpsim::Options options) const {
    options.paced = false;
    options.logFile = file("Log.txt");
    auto host = std::make_unique<xpsim::Host>(options);
    host->runFrames(2);
    return host;
}

bool framesUntil(xpsim::Host& host, const std::function<bool()>& done, std::chrono::milliseconds pause,
                 std::chrono::milliseconds limit) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        host.runFrames(1);
        std::this_thread::sleep_for(pause);
    }
    return true;
}

int entriesIn(const char* folder) {
    return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
