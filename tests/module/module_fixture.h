#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "host.h"

// One plugin folder per test, with its own copy of the module, loaded into a stand-in
// simulator (unpaced) in this process. Browsers on PATH are hidden for the test, so a run
// stays browserless unless its settings name one; XDG_DATA_HOME points into the test's folder.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The two halves of start(), for tests that look at the process between them.
    void makeHost(xpsim::Options options);
    bool loadModule();  // false if the module could not be loaded
    bool start(const xpsim::Options& options = {})
    {
        makeHost(options);
        return loadModule();
    }

    void run(const std::string& script);
    // Runs frames, a few milliseconds of wall-clock time apart so the plugin's threads and its
    // browser get to run, until `done` holds or `limit` has passed. False when time ran out.
    bool framesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    nlohmann::json state() const { return nlohmann::json::parse(host->stateJson()); }
    // The panel window's entry in the host's state (fails the test when there is none).
    nlohmann::json panel() const;

    std::string folder;        // the test's temporary folder
    std::string pluginFolder;  // <folder>/Corvane_Toolbar/lin_x64, with the module and its settings
    std::unique_ptr<xpsim::Host> host;

private:
    std::string savedPath;
    std::optional<std::string> savedDataHome;
};

// The number of threads of this process.
int threadCount();
