#include "processes.h"

#include <fstream>
#include <sstream>

#include <unistd.h>

namespace testprocs {

namespace fs = std::filesystem;

namespace {

// Numeric entries of /proc.
std::vector<pid_t> allProcesses() {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos) pids.push_back(std::stoi(name));
    }
    return pids;
}

}  // namespace

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int countOccurrences(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
    return n;
}

std::vector<pid_t> taggedProcesses(const std::string& tag, pid_t except) {
    // Each variable in /proc/<pid>/environ ends in a NUL; one put in front matches the first.
    std::string needle(1, '\0');
    needle += "CV_TEST_TAG=";
    needle += tag;
    needle += '\0';
    std::vector<pid_t> found;
    for (pid_t pid : allProcesses()) {
        if (pid == ::getpid() || pid == except) continue;
        std::string variables(1, '\0');
        variables += slurp("/proc/" + std::to_string(pid) + "/environ");
        if (variables.find(needle) != std::string::npos) found.push_back(pid);
    }
    return found;
}

std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent) {
    std::vector<std::pair<pid_t, char>> children;
    for (pid_t pid : allProcesses()) {
        const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
        // "pid (comm) state ppid ...": comm may hold spaces, so parse after the last ')'.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) children.emplace_back(pid, state);
    }
    return children;
}

}  // namespace testprocs
