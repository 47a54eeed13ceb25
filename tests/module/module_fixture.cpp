#include "module_fixture.h"

#include <cstdlib>

void ModuleTest::SetUp() {
    if (const char* path = std::getenv("PATH")) savedPath = path;
    setenv("PATH", sandbox.folder.c_str(), 1);
}

void ModuleTest::TearDown() {
    // The host finds no rule broken: no null callback slot, no XPLM call off the main thread,
    // no GL error left behind, no exception escaping.
    if (host) {
        EXPECT_EQ(host->log().find("xpsim: error:"), std::string::npos) << host->log();
    }
    host.reset();
    setenv("PATH", savedPath.c_str(), 1);
}

bool ModuleTest::loadModule() {
    std::string error;
    const bool loaded = host->load(sandbox.module(), error);
    EXPECT_TRUE(loaded) << error;
    return loaded;
}

void ModuleTest::run(const std::string& script) {
    std::string error;
    ASSERT_TRUE(host->run(script, error)) << script << ": " << error;
}

nlohmann::json ModuleTest::panel() const {
    const nlohmann::json s = nlohmann::json::parse(host->stateJson());
    for (const auto& w : s["windows"])
        if (w["title"] == "Corvane Toolbar") return w;
    ADD_FAILURE() << "no panel window in " << host->stateJson();
    return nlohmann::json::object();
}
