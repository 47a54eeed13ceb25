#include "harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harness {

namespace {

fs::path makeTempFolder(const std::string& name) {
    std::string templ = (fs::temp_directory_path() / ("cv-test-" + name + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return templ;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

PluginFolder::PluginFolder(const std::string& name) : path_(makeTempFolder(name)) {
    fs::copy_file(CV_MODULE_PATH, module());
}

PluginFolder::~PluginFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void PluginFolder::writeSettings(const std::string& zoom, int refreshSecs, const std::string& url,
                                 const std::string& browserPath) const {
    std::ofstream out(file("cv_settings.ini"));
    out << "[General]\n"
        << "zoomLevel = " << zoom << "\n"
        << "refreshWebPageSecs = " << refreshSecs << "\n"
        << "WebURL = " << url << "\n";
    if (!browserPath.empty()) out << "BrowserPath = " << browserPath << "\n";
}

std::string PluginFolder::readFile(const std::string& name) const { return slurp(file(name)); }

Xpsim::Xpsim(const PluginFolder& folder, const std::string& script, const Environment& env)
    : logPath_(folder.file("Log.txt")) {
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        const std::string key = var.substr(0, var.find('='));
        if (env.set.count(key) == 0) vars.push_back(var);
    }
    for (const auto& [key, value] : env.set) vars.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);

    std::vector<std::string> args = {CV_XPSIM_PATH, "--log", logPath_.string(), folder.module().string(), "-e",
                                     script};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

Xpsim::~Xpsim() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

int Xpsim::wait(int timeoutSecs) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSecs);
    int status = 0;
    while (std::chrono::steady_clock::now() < giveUp) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

void Xpsim::kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

std::string Xpsim::log() const { return slurp(logPath_); }

std::string runToEnd(const PluginFolder& folder, const std::string& script, const Environment& env, int* status) {
    Xpsim sim(folder, script, env);
    const int s = sim.wait();
    if (status != nullptr) *status = s;
    return sim.log();
}

Pixel Image::at(int x, int y) const {
    const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2]};
}

Image readPng(const fs::path& path) {
    Image image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
    png.format = PNG_FORMAT_RGBA;
    image.rgba.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
        image.rgba.clear();
        return image;
    }
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    return image;
}

bool near(Pixel p, int r, int g, int b, int tolerance) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

std::vector<pid_t> taggedProcesses(const std::string& tag) {
    const std::string needle = "CV_TEST_TAG=" + tag;
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = std::stoi(name);
        if (pid == ::getpid()) continue;
        const std::string environ = slurp(entry.path() / "environ");
        std::size_t start = 0;
        while (start < environ.size()) {
            const std::size_t end = environ.find('\0', start);
            if (environ.compare(start, (end == std::string::npos ? environ.size() : end) - start, needle) == 0) {
                found.push_back(pid);
                break;
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return found;
}

std::vector<pid_t> waitUntilNoneTagged(const std::string& tag, int timeoutSecs) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSecs);
    std::vector<pid_t> left = taggedProcesses(tag);
    while (!left.empty() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        left = taggedProcesses(tag);
    }
    return left;
}

std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent) {
    std::vector<std::pair<pid_t, char>> children;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = slurp(entry.path() / "stat");
        // "pid (comm) state ppid ...": comm may hold spaces, so parse after the last ')'.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) children.emplace_back(std::stoi(name), state);
    }
    return children;
}

std::string uniqueTag(const std::string& testName) { return testName + "-" + std::to_string(::getpid()); }

int countOccurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace harness
