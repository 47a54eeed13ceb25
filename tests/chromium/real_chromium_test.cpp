// The module in the stand-in simulator with real headless Chromium showing the demo page.
// Each Chromium start costs seconds, so each test covers a whole story in one run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iostream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "harness.h"

namespace {

using namespace harness;

constexpr Pixel unusedPixel{0, 0, 0};

// Page pixel (x, y) in a 1920 x 1080 screenshot of the panel at its default place.
Pixel pagePixel(const Image& shot, int x, int y) { return shot.empty() ? unusedPixel : shot.at(100 + x, 100 + y); }

const int buttonOff[3] = {34, 54, 76};
const int buttonOn[3] = {47, 191, 79};

::testing::AssertionResult looksLike(Pixel p, const int (&rgb)[3]) {
    if (near(p, rgb[0], rgb[1], rgb[2], 12)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel is (" << p.r << ", " << p.g << ", " << p.b << ")";
}
::testing::AssertionResult isOn(Pixel p) { return looksLike(p, buttonOn); }
::testing::AssertionResult isOff(Pixel p) { return looksLike(p, buttonOff); }

void expectCorners(const Image& shot, const std::string& what) {
    ASSERT_EQ(shot.width, 1920) << what;
    EXPECT_TRUE(near(pagePixel(shot, 4, 4), 255, 0, 0)) << what << ": top-left";
    EXPECT_TRUE(near(pagePixel(shot, 763, 4), 0, 255, 0)) << what << ": top-right";
    EXPECT_TRUE(near(pagePixel(shot, 4, 507), 0, 0, 255)) << what << ": bottom-left";
    EXPECT_TRUE(near(pagePixel(shot, 763, 507), 255, 255, 0)) << what << ": bottom-right";
    // Just inside the marks is page background: the page is neither cut nor shifted.
    EXPECT_FALSE(near(pagePixel(shot, 40, 40), 255, 0, 0)) << what;
}

class RealChromium : public ::testing::Test {
protected:
    RealChromium()
        : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()),
          tag_(uniqueTag(::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        env_.set["CV_TEST_TAG"] = tag_;
        folder_.writeSettings("0.5", 0, "file://" CV_DEMO_PAGE, "");
    }
    // Screenshots of a failed test are kept for a look.
    void TearDown() override {
        if (!HasFailure()) return;
        const fs::path keep = fs::temp_directory_path() / ("cv-failed-" + tag_);
        fs::create_directories(keep);
        for (const auto& entry : fs::directory_iterator(folder_.path()))
            if (entry.path().extension() == ".png" || entry.path().filename() == "Log.txt")
                fs::copy_file(entry.path(), keep / entry.path().filename(), fs::copy_options::overwrite_existing);
        std::cout << "screenshots and log kept in " << keep << "\n";
    }
    ~RealChromium() override {
        EXPECT_TRUE(waitUntilNoneTagged(tag_, 10).empty()) << "a process outlived the simulator";
    }
    std::string shot(const std::string& name) { return folder_.file(name).string(); }

    PluginFolder folder_;
    std::string tag_;
    Environment env_;
};

TEST_F(RealChromium, TheDemoPageReachesThePanelAndClicksLandIn2DAndVrAtTwoZooms) {
    // Button middles at zoom 0.5 (layout 1536 x 1024 CSS pixels): "Connect" page (207, 117),
    // "Weather" (560, 117). At 0.55 the layout narrows to 1397 CSS pixels and "ATC" sits at
    // page (209, 190).
    int status = -1;
    const std::string log = runToEnd(folder_,
                                     "wait 6\n"
                                     "command Corvane/TogglePanel once\n"
                                     "wait 3\n"
                                     "screenshot " + shot("1-shown.png") + "\n"
                                     "click 307 863\n"
                                     "wait 3\n"
                                     "screenshot " + shot("2-clicked.png") + "\n"
                                     "vr on\n"
                                     "click 560 395\n"
                                     "wait 3\n"
                                     "vr off\n"
                                     "wait 2\n"
                                     "screenshot " + shot("3-vr-clicked.png") + "\n"
                                     "command Corvane/IncreaseWebZoom once\n"
                                     "wait 3\n"
                                     "screenshot " + shot("4-zoomed.png") + "\n"
                                     "click 309 790\n"
                                     "wait 3\n"
                                     "screenshot " + shot("5-zoomed-clicked.png") + "\n"
                                     "quit\n",
                                     env_, &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
    EXPECT_EQ(log.find("could not be brought up"), std::string::npos) << log;
    EXPECT_EQ(log.find("Bounds invalid"), std::string::npos) << log;

    const Image shown = readPng(shot("1-shown.png"));
    expectCorners(shown, "shown");
    EXPECT_TRUE(isOff(pagePixel(shown, 60, 117)));
    EXPECT_TRUE(isOff(pagePixel(shown, 410, 117)));

    const Image clicked = readPng(shot("2-clicked.png"));
    EXPECT_TRUE(isOn(pagePixel(clicked, 60, 117))) << "2-D click on Connect";
    EXPECT_TRUE(isOff(pagePixel(clicked, 410, 117)));

    const Image vrClicked = readPng(shot("3-vr-clicked.png"));
    EXPECT_TRUE(isOn(pagePixel(vrClicked, 410, 117))) << "VR click on Weather";

    const Image zoomed = readPng(shot("4-zoomed.png"));
    expectCorners(zoomed, "zoomed to 0.55");
    // The page is larger: Connect now reaches further down than at 0.5 (its bottom edge was
    // at about page y 140), and ATC is still off.
    EXPECT_TRUE(isOn(pagePixel(zoomed, 60, 148)));
    EXPECT_TRUE(isOff(pagePixel(zoomed, 60, 191)));

    const Image zoomedClicked = readPng(shot("5-zoomed-clicked.png"));
    EXPECT_TRUE(isOn(pagePixel(zoomedClicked, 60, 191))) << "2-D click on ATC at zoom 0.55";
    EXPECT_NE(folder_.readFile("cv_settings.ini").find("zoomLevel = 0.550000"), std::string::npos);
}

// Polls the simulator log, bounded, until `needle` occurs `count` times.
bool waitForLog(const Xpsim& sim, const std::string& needle, int count, int timeoutSecs = 60) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSecs);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (countOccurrences(sim.log(), needle) >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::vector<std::string> threadNames(pid_t pid) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "comm");
        std::string name;
        std::getline(in, name);
        names.push_back(name);
    }
    return names;
}

std::vector<pid_t> without(std::vector<pid_t> pids, pid_t pid) {
    pids.erase(std::remove(pids.begin(), pids.end(), pid), pids.end());
    std::sort(pids.begin(), pids.end());
    return pids;
}

TEST_F(RealChromium, ReloadAndQuitLeaveNoBrowserProcessOrPluginThread) {
    Xpsim sim(folder_, "wait 6\nreload\nwait 6\nquit\nwait 4\n", env_);
    const std::string started = "xpsim: started CorvaneToolbar";

    ASSERT_TRUE(waitForLog(sim, started, 1));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto first = without(taggedProcesses(tag_), sim.pid());
    const auto threadsRunning = threadNames(sim.pid());
    ASSERT_GE(first.size(), 2u) << "the browser and its helpers";
    EXPECT_EQ(std::count(threadsRunning.begin(), threadsRunning.end(), "cv-devtools"), 1);

    ASSERT_TRUE(waitForLog(sim, started, 2));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto second = without(taggedProcesses(tag_), sim.pid());
    ASSERT_FALSE(second.empty());
    for (pid_t pid : first) {
        EXPECT_FALSE(std::binary_search(second.begin(), second.end(), pid)) << "process " << pid << " survived reload";
    }
    EXPECT_EQ(threadNames(sim.pid()).size(), threadsRunning.size()) << "threads accumulate over reloads";

    ASSERT_TRUE(waitForLog(sim, "xpsim: unloaded CorvaneToolbar", 2));
    EXPECT_TRUE(without(taggedProcesses(tag_), sim.pid()).empty()) << "a browser process outlived the plugin";
    for (const auto& [pid, state] : childrenOf(sim.pid())) ADD_FAILURE() << "child " << pid << " state " << state;
    const auto threadsAfter = threadNames(sim.pid());
    // The decode thread and the pipe thread are gone; nothing else of ours was left.
    EXPECT_EQ(threadsAfter.size(), threadsRunning.size() - 2);
    EXPECT_EQ(std::count(threadsAfter.begin(), threadsAfter.end(), "cv-devtools"), 0);
    EXPECT_TRUE(WIFEXITED(sim.wait()));
}

TEST_F(RealChromium, QuitBeforeTheBrowserCameUpLeavesNothing) {
    int status = -1;
    const std::string log = runToEnd(folder_, "frames 1\nquit\n", env_, &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
    EXPECT_EQ(log.find("CV: lost"), std::string::npos) << log;
}

TEST_F(RealChromium, TheBrowserDiesWithAKilledSimulator) {
    Xpsim sim(folder_, "command Corvane/TogglePanel once\nwait 120\n", env_);
    // Up and rendering: the browser, its zygotes and a renderer.
    // (The browser's start-up script runs short-lived commands too, so counts are taken
    // once it has settled.)
    ASSERT_TRUE(waitForLog(sim, "xpsim: started CorvaneToolbar", 1));
    std::this_thread::sleep_for(std::chrono::seconds(8));
    ASSERT_GE(without(taggedProcesses(tag_), sim.pid()).size(), 3u);

    sim.kill(SIGKILL);
    sim.wait();
    const auto left = waitUntilNoneTagged(tag_, 10);
    EXPECT_TRUE(left.empty()) << left.size() << " browser processes outlived the killed simulator";
}

// A page server on 127.0.0.1 that counts the requests for its page.
class PageServer {
public:
    PageServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~PageServer() {
        stop_ = true;
        thread_.join();
        for (auto& client : clients_) client.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/panel"; }
    int pageRequests() const { return pageRequests_.load(); }

private:
    void serve() {
        while (!stop_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            // Each connection on its own: the browser opens spare connections that send
            // nothing, and they must not hold up the real requests.
            if (client >= 0) clients_.emplace_back([this, client] { answer(client); });
        }
    }
    void answer(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd c{client, POLLIN, 0};
            const int ready = ::poll(&c, 1, 100);
            if (ready == 0) continue;
            if (ready < 0) break;
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        if (request.empty()) {
            ::close(client);
            return;
        }
        const bool page = request.rfind("GET /panel ", 0) == 0;
        if (page) ++pageRequests_;
        const std::string body = page ? "<html><body style='background:#123'>panel</body></html>" : "";
        const std::string response = std::string(page ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                                     "\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n"
                                     "Connection: close\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body;
        [[maybe_unused]] auto n = ::write(client, response.data(), response.size());
        ::close(client);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> pageRequests_{0};
    std::thread thread_;
    std::vector<std::thread> clients_;  // only touched by thread_ until it has been joined
};

TEST_F(RealChromium, ThePageIsNavigatedAgainEachPeriodAndNeverWithPeriodZero) {
    {
        PageServer server;
        folder_.writeSettings("0.5", 2, server.url(), "");
        int status = -1;
        const std::string log = runToEnd(folder_, "wait 12\nquit\n", env_, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
        // The bring-up's load, then one each time more than 2 s have passed once the browser
        // is up: at most one per period in 12 s, and at least two more even if the browser
        // took several seconds to start (as under sanitizers or a loaded machine).
        EXPECT_GE(server.pageRequests(), 3);
        EXPECT_LE(server.pageRequests(), 7);
    }
    {
        PageServer server;
        folder_.writeSettings("0.5", 0, server.url(), "");
        int status = -1;
        const std::string log = runToEnd(folder_, "wait 7\nquit\n", env_, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log;
        EXPECT_EQ(server.pageRequests(), 1);
    }
}

}  // namespace
