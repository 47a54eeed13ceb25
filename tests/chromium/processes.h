// The processes a test looks for after the simulator or the plugin has gone, read from /proc.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testprocs {

// Processes (other than this one and `except`) whose environment holds CV_TEST_TAG=tag:
// everything the simulator started, helpers of the browser included.
std::vector<pid_t> taggedProcesses(const std::string& tag, pid_t except = 0);
// Direct children of a process with their state letter ('Z' for a zombie).
std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent);
// A whole file, "" when it cannot be read.
std::string slurp(const std::filesystem::path& path);
// How often `piece` is found in `text`, counting from the end of each find: lines in a log.
int countOccurrences(const std::string& text, const std::string& piece);

}  // namespace testprocs
