#include "module_fixture.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

void ModuleTest::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "cv_module_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    pluginFolder = folder + "/Corvane_Toolbar/lin_x64";
    fs::create_directories(pluginFolder);
    modulePath = pluginFolder + "/Corvane_Toolbar.xpl";
    fs::copy_file(CV_MODULE_PATH, modulePath);
    settingsPath = pluginFolder + "/cv_settings.ini";
}

void ModuleTest::TearDown()
{
    host.reset();
    if (savedPath) setenv("PATH", savedPath->c_str(), 1);
    unsetenv("CV_FAKE_CDP_LOG");
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

void ModuleTest::writeSettings(const std::string& text) { std::ofstream(settingsPath, std::ios::binary) << text; }

std::string ModuleTest::fakeBrowserLine()
{
#if defined(CV_FAKE_CDP_PATH)
    setenv("CV_FAKE_CDP_LOG", (folder + "/browser.log").c_str(), 1);
    return std::string("BrowserPath = ") + CV_FAKE_CDP_PATH + "\n";
#else
    ADD_FAILURE() << "the fake DevTools peer was not built";
    return {};
#endif
}

void ModuleTest::hideBrowsersOnPath()
{
    if (const char* path = std::getenv("PATH")) savedPath = path;
    setenv("PATH", folder.c_str(), 1);
}

xpsim::Options ModuleTest::defaultOptions()
{
    xpsim::Options options;
    options.paced = false;
    return options;
}

bool ModuleTest::start(const xpsim::Options& options)
{
    makeHost(options);
    return loadModule();
}

void ModuleTest::makeHost(const xpsim::Options& given)
{
    xpsim::Options options = given;
    options.logFile = folder + "/Log.txt";
    host = std::make_unique<xpsim::Host>(options);
    // The host's own threads (the renderer's among them) exist before the module comes.
    host->runFrames(2);
}

bool ModuleTest::loadModule()
{
    std::string error;
    const bool loaded = host->load(modulePath, error);
    EXPECT_TRUE(loaded) << error;
    return loaded;
}

void ModuleTest::run(const std::string& script)
{
    std::string error;
    ASSERT_TRUE(host->run(script, error)) << script << ": " << error;
}

nlohmann::json ModuleTest::state() const { return nlohmann::json::parse(host->stateJson()); }

std::string ModuleTest::log() const { return host->log(); }

nlohmann::json ModuleTest::panel() const
{
    const nlohmann::json s = state();
    for (const auto& w : s["windows"])
        if (w["title"] == "Corvane Toolbar") return w;
    ADD_FAILURE() << "no panel window in " << host->stateJson();
    return nlohmann::json::object();
}

std::string ModuleTest::settingsText() const { return readFile(settingsPath); }

std::string ModuleTest::browserLog() const { return readFile(folder + "/browser.log"); }

bool ModuleTest::runUntilBrowserLogged(const std::string& text, int maxFrames)
{
    for (int i = 0; i < maxFrames; ++i) {
        if (browserLog().find(text) != std::string::npos) return true;
        settle(1);
    }
    return browserLog().find(text) != std::string::npos;
}

void ModuleTest::settle(int frames)
{
    for (int i = 0; i < frames; ++i) {
        host->runFrames(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int threadCount()
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

int childProcessCount()
{
    const std::string self = std::to_string(getpid());
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = readFile(entry.path().string() + "/stat");
        // pid (comm) state ppid ...: the command name may hold spaces, so read after ')'.
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state, ppid;
        rest >> state >> ppid;
        if (ppid == self) ++count;
    }
    return count;
}
