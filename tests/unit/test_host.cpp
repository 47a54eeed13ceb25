#include "test_host.h"

#include <gtest/gtest.h>

#include <filesystem>
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
    std::string pattern = (std::filesystem::temp_directory_path() / "cv_unit_XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}
