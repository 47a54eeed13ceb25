#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "host.h"

// One plugin folder per test, with its own copy of the module and (optionally) a settings
// file, loaded into a stand-in simulator in this process.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes cv_settings.ini beside the module before it is loaded.
    void writeSettings(const std::string& text);
    // A settings line that points the plugin at the fake DevTools peer (logging into the
    // test's folder); skips the test when the peer was not built.
    std::string fakeBrowserLine();
    // Hides every browser on PATH for this test, so a run without settings stays browserless.
    void hideBrowsersOnPath();

    // Starts the simulator with the module; false if the module could not be loaded.
    bool start(const xpsim::Options& options);
    bool start() { return start(defaultOptions()); }
    // The two halves of start(), for tests that look at the process between them.
    void makeHost(const xpsim::Options& options);
    bool loadModule();
    static xpsim::Options defaultOptions();

    void run(const std::string& script);
    nlohmann::json state() const;
    std::string log() const;
    // The panel window's entry in the host's state (fails the test when there is none).
    nlohmann::json panel() const;
    std::string settingsText() const;
    std::string browserLog() const;
    // Runs frames (a little real time apart, so the browser's own process can answer) until
    // the fake peer has logged `text`, or gives up after a bounded number of frames.
    bool runUntilBrowserLogged(const std::string& text, int maxFrames = 1500);
    // Frames a little real time apart, so the browser's answers come back in between.
    void settle(int frames);

    std::string folder;        // the test's temporary folder
    std::string pluginFolder;  // <folder>/Corvane_Toolbar/lin_x64
    std::string modulePath;
    std::string settingsPath;
    std::unique_ptr<xpsim::Host> host;

private:
    std::optional<std::string> savedPath;
};

// The number of threads of this process.
int threadCount();
// The number of child processes of this process, running or not yet reaped.
int childProcessCount();
