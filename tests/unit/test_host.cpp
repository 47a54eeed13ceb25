#include "test_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

std::size_t logSeen = 0;

}  // namespace

xpsim::Host& testHost()
{
    static std::unique_ptr<xpsim::Host> host = [] {
        xpsim::Options options;
        options.paced = false;
        options.logFile = "/dev/null";
        return std::make_unique<xpsim::Host>(options);
    }();
    return *host;
}

void hostRun(const std::string& script)
{
    std::string error;
    ASSERT_TRUE(testHost().run(script, error)) << script << ": " << error;
}

std::string newLogText()
{
    const std::string log = testHost().log();
    const std::string added = log.size() > logSeen ? log.substr(logSeen) : std::string();
    logSeen = log.size();
    return added;
}

std::string makeTempFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/cv_unit_XXXXXX";
    char* made = mkdtemp(pattern.data());
    return made != nullptr ? std::string(made) : std::string();
}
