#include "harness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <grp.h>
#include <png.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace harness {

fs::path modulePath = CV_MODULE_PATH;
fs::path xpsimPath = CV_XPSIM_PATH;

void AsTestUser::SetUp() {
    if (::geteuid() != 0) return;
    const passwd* user = ::getpwnam(testUser);
    ASSERT_TRUE(user != nullptr && user->pw_uid != 0)
        << "run as root, these tests run the browser as the user " << testUser
        << ", as its sandbox cannot start as root; there is no such user: scripts/setup creates it";
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const std::string home = user->pw_dir;
    std::string templ = (fs::temp_directory_path() / "cv-test-inputs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr) << std::strerror(errno);
    copies_ = templ;
    for (fs::path* input : inputs_) {
        fs::copy(*input, copies_ / input->filename(), fs::copy_options::recursive);
        *input = copies_ / input->filename();
    }
    ASSERT_EQ(::chown(copies_.c_str(), uid, gid), 0) << std::strerror(errno);
    for (const auto& entry : fs::recursive_directory_iterator(copies_))
        ASSERT_EQ(::lchown(entry.path().c_str(), uid, gid), 0) << entry.path() << ": " << std::strerror(errno);
    // The groups first: only root may change them.
    ASSERT_TRUE(::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 && ::setuid(uid) == 0)
        << "cannot become " << testUser << ": " << std::strerror(errno);
    // Out of the build folder ctest starts us in, which may be closed to the user too.
    ASSERT_EQ(::chdir(copies_.c_str()), 0) << std::strerror(errno);
    // The browser keeps its caches and settings under the home folder.
    ::setenv("HOME", home.c_str(), 1);
}

void AsTestUser::TearDown() {
    std::error_code ignored;
    if (!copies_.empty()) fs::remove_all(copies_, ignored);
}

bool eventually(const std::function<bool()>& done, int timeoutSecs) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSecs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void expectOnce(const std::string& log, std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) EXPECT_EQ(countOccurrences(log, line), 1) << line << "\n" << log;
}

void expectNone(const std::string& log, std::initializer_list<const char*> pieces) {
    for (const char* piece : pieces) EXPECT_EQ(log.find(piece), std::string::npos) << piece << "\n" << log;
}

std::string interrupt(Xpsim& sim) {
    sim.kill(SIGTERM);
    const int status = sim.wait();
    const std::string log = sim.log();
    EXPECT_TRUE(WIFEXITED(status)) << "xpsim status " << status << "\n" << log;
    EXPECT_NE(log.find("xpsim: unloaded CorvaneToolbar"), std::string::npos) << log;
    EXPECT_EQ(log.find("xpsim: leak"), std::string::npos) << log;
    EXPECT_EQ(countOccurrences(log, "xpsim: error:"), countOccurrences(log, "xpsim: error: interrupted")) << log;
    return log;
}

Xpsim::Xpsim(const fs::path& folder, const std::string& script, const Environment& env,
             const std::vector<std::string>& options)
    : folder_(folder) {
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        if (env.count(var.substr(0, var.find('='))) == 0) vars.push_back(var);
    }
    for (const auto& [key, value] : env) vars.push_back(key + "=" + value);
    std::vector<std::string> args = {xpsimPath, "--log", (folder / "Log.txt").string()};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {(folder / "Corvane_Toolbar.xpl").string(), "-e", script});
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    for (auto& v : vars) envp.push_back(v.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
}

Xpsim::~Xpsim() {
    if (pid_ > 0) wait(0);
}

int Xpsim::wait(int timeoutSecs) {
    int status = 0;
    const bool exited = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutSecs);
    if (!exited) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return exited ? status : -1;
}

void Xpsim::kill(int signal) {
    if (pid_ > 0) ::kill(pid_, signal);
}

std::string Xpsim::log() const { return slurp(folder_ / "Log.txt"); }

Pixel Image::page(int x, int y) const { return at(100 + x, 100 + y); }

Pixel Image::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {-1, -1, -1};
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
    if (png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
        image.width = static_cast<int>(png.width);
        image.height = static_cast<int>(png.height);
    }
    return image;
}

bool near(Pixel p, int r, int g, int b, int tolerance) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

ModuleTest::ModuleTest() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = c == '/' ? '-' : c;  // a parametrised test's "Name/Case"
    std::string templ = (fs::temp_directory_path() / ("cv-test-" + name + "-XXXXXX")).string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = templ;
    fs::copy_file(modulePath, folder_ / "Corvane_Toolbar.xpl");
    tag_ = name + "-" + std::to_string(::getpid());
    env_["CV_TEST_TAG"] = tag_;
    // The browser's lasting profile goes here, never into the real ~/.local/share.
    env_["XDG_DATA_HOME"] = (folder_ / "data").string();
}

ModuleTest::~ModuleTest() {
    EXPECT_TRUE(eventually([&] { return taggedProcesses(tag_).empty(); }, 10)) << "a process outlived the simulator";
    // Nor the test: what outlived it is ended here.
    for (const pid_t pid : taggedProcesses(tag_)) ::kill(pid, SIGKILL);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void ModuleTest::settings(const std::string& zoom, int refreshSecs, const std::string& url,
                          const std::string& browserPath) const {
    std::ofstream out(folder_ / "cv_settings.ini");
    out << "[General]\nzoomLevel = " << zoom << "\nrefreshWebPageSecs = " << refreshSecs << "\nWebURL = " << url
        << "\n";
    if (!browserPath.empty()) out << "BrowserPath = " << browserPath << "\n";
}

std::string ModuleTest::run(const std::string& script, const fs::path& folder, int timeoutSecs) {
    Xpsim sim(folder.empty() ? folder_ : folder, script, env_, xpsimOptions_);
    const int status = sim.wait(timeoutSecs);
    const std::string log = sim.log();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "xpsim status " << status << "\n" << log;
    EXPECT_NE(log.find("xpsim: unloaded CorvaneToolbar"), std::string::npos) << log;
    EXPECT_EQ(log.find("xpsim: leak"), std::string::npos) << log;
    // No rule of the host broken: no XPLM call off the main thread (the backend's I/O thread
    // and the decode thread never log), no null callback slot, no GL error left behind.
    EXPECT_EQ(log.find("xpsim: error:"), std::string::npos) << log;
    return log;
}

}  // namespace harness
