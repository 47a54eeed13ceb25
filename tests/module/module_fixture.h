#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "plugin_sandbox.h"

// One plugin sandbox per test, its module loaded into an unpaced stand-in simulator in this
// process. Browsers on PATH are hidden for the test, so a run stays browserless unless its
// settings name one.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The two halves of start(), for tests that look at the process between them.
    void makeHost(const xpsim::Options& options) { host = sandbox.startHost(options); }
    bool loadModule();  // false if the module could not be loaded
    bool start(const xpsim::Options& options = {}) {
        makeHost(options);
        return loadModule();
    }

    void run(const std::string& script);
    bool framesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return ::framesUntil(*host, done, std::chrono::milliseconds(5), limit);
    }
    // The panel window's entry in the host's state (fails the test when there is none).
    nlohmann::json panel() const;

    PluginSandbox sandbox{"module"};
    const std::string& pluginFolder = sandbox.pluginFolder;  // with the module and its settings
    std::unique_ptr<xpsim::Host> host;

private:
    std::string savedPath;
};
