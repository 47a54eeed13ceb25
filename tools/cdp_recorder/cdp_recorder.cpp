// cdp_recorder: sits between the plugin and a browser on the DevTools pipe and keeps a copy of
// everything that passes, so the fuzz corpora hold what a real browser really sends.
//
// Relay (named as "BrowserPath"): runs the browser named by CV_RECORD_BROWSER with the
// arguments the plugin gave, passes commands (fd 3) and replies (fd 4) through unchanged,
// and appends them as they pass to <CV_RECORD_DIR>/<pid>-commands.bin and <pid>-replies.bin.
// It exits as the browser did.
//
//   cdp_recorder --corpus RECORDING_DIR NAME CDP_CORPUS_DIR PNG_CORPUS_DIR
// turns each recorded session into seeds: for fuzz_cdp_message, the bring-up (everything up to
// the first snapshot), three snapshot replies (first, middle, last), and everything after the
// first snapshot but the snapshots, each with the line of waiting commands that target reads
// first; for fuzz_png_decode, the PNGs of those three snapshots.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_wire.h"

namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int openLog(const char* folder, const std::string& name) {
    const std::string path = std::string(folder) + "/" + std::to_string(::getpid()) + "-" + name;
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

int relay(int argc, char** argv) {
    const char* browser = std::getenv("CV_RECORD_BROWSER");
    const char* folder = std::getenv("CV_RECORD_DIR");
    if (browser == nullptr || folder == nullptr) {
        std::fprintf(stderr, "cdp_recorder: set CV_RECORD_BROWSER and CV_RECORD_DIR\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const int commandLog = openLog(folder, "commands.bin");
    const int replyLog = openLog(folder, "replies.bin");
    int commands[2], replies[2];
    if (commandLog < 0 || replyLog < 0 || ::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(replies, O_CLOEXEC) != 0) {
        std::perror("cdp_recorder");
        return 2;
    }
    const pid_t child = ::fork();
    if (child < 0) return 2;
    if (child == 0) {
        // The browser gets the pipe on the same descriptors; it stays in our process group,
        // so the plugin's kill of the group reaches it too.
        if (::dup2(commands[0], 3) < 0 || ::dup2(replies[1], 4) < 0) ::_exit(127);
        std::vector<char*> args = {const_cast<char*>(browser)};
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execv(browser, args.data());
        ::_exit(127);
    }
    ::close(commands[0]);
    ::close(replies[1]);
    int toBrowser = commands[1];
    const int fromBrowser = replies[0];

    char buffer[1 << 16];
    bool pluginOpen = true;
    for (;;) {
        pollfd fds[2] = {{pluginOpen ? 3 : -1, POLLIN, 0}, {fromBrowser, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) {
            const ssize_t n = ::read(3, buffer, sizeof buffer);
            if (n > 0) {
                writeAll(commandLog, buffer, static_cast<std::size_t>(n));
                writeAll(toBrowser, buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                // The plugin is done with us: the browser sees its pipe close, as it would.
                pluginOpen = false;
                ::close(toBrowser);
                toBrowser = -1;
            }
        }
        if (fds[1].revents != 0) {
            const ssize_t n = ::read(fromBrowser, buffer, sizeof buffer);
            if (n > 0) {
                writeAll(replyLog, buffer, static_cast<std::size_t>(n));
                writeAll(4, buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
    }
    ::close(4);
    if (toBrowser >= 0) ::close(toBrowser);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

std::vector<std::string> messagesIn(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> messages;
    std::size_t start = 0;
    for (std::size_t nul; (nul = bytes.find('\0', start)) != std::string::npos; start = nul + 1)
        messages.push_back(bytes.substr(start, nul - start));
    return messages;
}

// The letter fuzz_cdp_message reads for a command that waits for its reply.
char letterFor(const std::string& method) {
    static const std::map<std::string, char> letters = {
        {"Target.getTargets", 'L'},     {"Target.createTarget", 'C'},
        {"Target.attachToTarget", 'A'}, {"Emulation.setDeviceMetricsOverride", 'V'},
        {"Page.navigate", 'N'},         {"Page.captureScreenshot", 'S'}};
    const auto it = letters.find(method);
    return it == letters.end() ? '-' : it->second;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
}

int corpus(const fs::path& recording, const std::string& name, const fs::path& cdpDir, const fs::path& pngDir) {
    int session = 0;
    for (const auto& entry : fs::directory_iterator(recording)) {
        const std::string file = entry.path().filename().string();
        const auto dash = file.find("-commands.bin");
        if (dash == std::string::npos) continue;
        const std::string prefix = name + "-" + std::to_string(++session);
        const fs::path replies = recording / (file.substr(0, dash) + "-replies.bin");

        std::string header;  // one letter per command id from 1
        for (const auto& command : messagesIn(entry.path())) {
            const auto parsed = nlohmann::json::parse(command);
            const auto id = parsed.at("id").get<std::size_t>();
            if (header.size() < id) header.resize(id, '-');
            header[id - 1] = letterFor(parsed.at("method").get<std::string>());
        }
        if (header.size() > 255) {
            std::fprintf(stderr, "cdp_recorder: %s holds more than 255 commands; record a shorter session\n",
                         entry.path().c_str());
            return 1;
        }
        std::string bringUp, rest;
        std::vector<std::pair<int, std::string>> snapshots;
        for (const auto& message : messagesIn(replies)) {
            const auto parsed = nlohmann::json::parse(message);
            const auto id = parsed.contains("id") ? parsed["id"].get<std::size_t>() : 0;
            const bool snapshot = id > 0 && id <= header.size() && header[id - 1] == 'S' && parsed.contains("result") &&
                                  parsed["result"].contains("data");
            if (snapshot)
                snapshots.emplace_back(static_cast<int>(id), message);
            else
                (snapshots.empty() ? bringUp : rest) += message + '\0';
        }
        writeFile(cdpDir / (prefix + "-bring-up"), header + '\n' + bringUp);
        if (!rest.empty()) writeFile(cdpDir / (prefix + "-after-the-first-snapshot"), header + '\n' + rest);
        if (snapshots.empty()) continue;
        const std::size_t picks[] = {0, snapshots.size() / 2, snapshots.size() - 1};
        for (std::size_t i = 0; i < 3; ++i) {
            if (i > 0 && picks[i] == picks[i - 1]) continue;
            const auto& [id, message] = snapshots[picks[i]];
            const std::string tag = prefix + "-snapshot-" + std::to_string(picks[i] + 1);
            writeFile(cdpDir / tag, std::string(static_cast<std::size_t>(id) - 1, '-') + "S\n" + message + '\0');
            std::vector<std::uint8_t> png;
            const auto data = nlohmann::json::parse(message)["result"]["data"].get<std::string>();
            if (!cdp::decodeBase64(data, png)) return 1;
            writeFile(pngDir / (tag + ".png"), std::string(png.begin(), png.end()));
        }
    }
    if (session == 0) {
        std::fprintf(stderr, "cdp_recorder: no session recorded in %s\n", recording.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--corpus") == 0) {
        try {
            return corpus(argv[2], argv[3], argv[4], argv[5]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cdp_recorder: %s\n", e.what());
            return 1;
        }
    }
    return relay(argc, argv);
}
