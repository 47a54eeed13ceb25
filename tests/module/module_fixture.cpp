#include "module_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

void ModuleTest::SetUp()
{
    if (const char* path = std::getenv("PATH")) savedPath = path;
    if (const char* data = std::getenv("XDG_DATA_HOME")) savedDataHome = data;
    std::string pattern = (fs::temp_directory_path() / "cv_module_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    setenv("PATH", folder.c_str(), 1);
    // A browser's lasting profile goes here, never into the real ~/.local/share.
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    pluginFolder = folder + "/Corvane_Toolbar/lin_x64";
    fs::create_directories(pluginFolder);
    fs::copy_file(CV_MODULE_PATH, pluginFolder + "/Corvane_Toolbar.xpl");
}

void ModuleTest::TearDown()
{
    // The host finds no rule broken: no null callback slot, no XPLM call off the main thread,
    // no GL error left behind, no exception escaping.
    if (host) {
        EXPECT_EQ(host->log().find("xpsim: error:"), std::string::npos) << host->log();
    }
    host.reset();
    setenv("PATH", savedPath.c_str(), 1);
    if (savedDataHome) {
        setenv("XDG_DATA_HOME", savedDataHome->c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
    std::error_code ignored;
    if (!folder.empty()) fs::remove_all(folder, ignored);
}

void ModuleTest::makeHost(xpsim::Options options)
{
    options.paced = false;
    options.logFile = folder + "/Log.txt";
    host = std::make_unique<xpsim::Host>(options);
    // The host's own threads (the renderer's among them) exist before the module comes.
    host->runFrames(2);
}

bool ModuleTest::loadModule()
{
    std::string error;
    const bool loaded = host->load(pluginFolder + "/Corvane_Toolbar.xpl", error);
    EXPECT_TRUE(loaded) << error;
    return loaded;
}

void ModuleTest::run(const std::string& script)
{
    std::string error;
    ASSERT_TRUE(host->run(script, error)) << script << ": " << error;
}

bool ModuleTest::framesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        host->runFrames(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

nlohmann::json ModuleTest::panel() const
{
    const nlohmann::json s = state();
    for (const auto& w : s["windows"])
        if (w["title"] == "Corvane Toolbar") return w;
    ADD_FAILURE() << "no panel window in " << host->stateJson();
    return nlohmann::json::object();
}

int threadCount()
{
    return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}
