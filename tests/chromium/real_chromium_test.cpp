// The module in the stand-in simulator with real headless Chromium. Each Chromium start
// costs seconds, so each test covers a whole story in one run.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "panel/dialog_picture.h"

namespace {

using namespace harness;

// The folder of the pages made for these tests.
fs::path pagesFolder = CV_PAGES;
[[maybe_unused]] ::testing::Environment* const asTestUser =
    ::testing::AddGlobalTestEnvironment(new AsTestUser({&pagesFolder}));

// Where a script aims for page pixel (x, y) of a panel on the desktop at zoom 1: the panel's
// top-left is at desktop (100, 980).
std::string desktopAt(int x, int y) { return std::to_string(100 + x) + " " + std::to_string(980 - y); }

using RealChromium = ModuleTest;

TEST_F(RealChromium, SiteStorageLastsFromOneSessionToTheNext) {
    // Red, then green once it finds its value.
    settings("0.5", 0, "file://" + (pagesFolder / "storage.html").string(), "");
    const std::string script = "wait 6\ncommand Corvane/TogglePanel once\nwait 3\nscreenshot ";
    // The first session runs on a while after the page kept its value, as a pilot's would: a
    // close that a loaded machine stretches past its grace must not be what the test measures.
    run(script + file("first.png") + "\nwait 6\nquit\n");
    EXPECT_TRUE(near(readPng(file("first.png")).page(400, 300), 255, 0, 0)) << "a fresh profile";
    run(script + file("second.png") + "\nquit\n");
    EXPECT_TRUE(near(readPng(file("second.png")).page(400, 300), 0, 255, 0)) << "the value of the first session";
    // The browser rewrote its settings file at each end and kept the energy saver we asked for.
    std::ifstream settingsFile(profile() / "Local State");
    const auto kept = nlohmann::json::parse(settingsFile, nullptr, false);
    ASSERT_TRUE(kept.is_object());
    EXPECT_EQ(kept["performance_tuning"]["battery_saver_mode"]["state"], 3);
}

// A page server on 127.0.0.1 that serves its page at /panel, counts the requests for it and
// keeps the address of every other request (a page's reports).
class PageServer {
public:
    explicit PageServer(std::string page = "<html><body style='background:#123'>panel</body></html>")
        : page_(std::move(page)) {
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
        url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/panel";
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{listener_, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) continue;
                // Each connection on its own: the browser opens spare connections that send
                // nothing, and they must not hold up the real requests.
                const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) clients_.emplace_back([this, client] { answer(client); });
            }
        });
    }
    ~PageServer() {
        stop_ = true;
        thread_.join();
        for (auto& client : clients_) client.join();
        ::close(listener_);
    }
    std::string url;
    std::atomic<int> pageRequests{0};
    std::vector<std::string> reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    void answer(int client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd c{client, POLLIN, 0};
            const int ready = ::poll(&c, 1, 100);
            if (ready == 0) continue;
            const ssize_t n = ready > 0 ? ::read(client, buffer, sizeof buffer) : -1;
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const bool page = request.rfind("GET /panel ", 0) == 0 || request.rfind("GET /panel?", 0) == 0;
        if (page) {
            ++pageRequests;
        } else if (request.rfind("GET ", 0) == 0) {
            std::lock_guard lock(mutex_);
            reports_.push_back(request.substr(4, request.find(' ', 4) - 4));
        }
        const std::string body = page ? page_ : "";
        const std::string response = std::string(page ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                                     "\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n"
                                     "Connection: close\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body;
        if (!request.empty()) {
            [[maybe_unused]] const auto sent = ::write(client, response.data(), response.size());
        }
        ::close(client);
    }

    const std::string page_;
    std::mutex mutex_;
    std::vector<std::string> reports_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::thread> clients_;  // only touched by thread_ until it has been joined
};

// The page at zoom 1: page pixel (x, y) is desktop (100 + x, 980 - y); (400, 300) is on its
// top until it scrolls, and its link is at (50, 50).
TEST_F(RealChromium, ThePilotsColourSchemeTheWheelsScrollAReloadAndABackStepReachThePage) {
    PageServer server(slurp(pagesFolder / "arranged.html"));
    settings("1", 0, server.url, "");
    std::ofstream(folder_ / "cv_settings.ini", std::ios::app) << "PanelColorScheme = dark\nPanelWheel = scroll\n";
    // Each step waits for the colour it must bring, or the script fails.
    const std::string log = run("command Corvane/TogglePanel once\nuntil 500 680 00C800 30\n"
                                "wheel 500 680 -6\nuntil 500 680 0000C8 10\n"
                                "command Corvane/ReloadPage once\nuntil 500 680 00C800 10\n"
                                "click 150 930\nuntil 500 680 FFFFFF 10\n"
                                "command Corvane/PageBack once\nuntil 500 680 00C800 10\nquit");
    expectNone(log, {"CV: lost", "could not be"});
    EXPECT_GE(server.pageRequests, 3) << "the first load, the reload and the link";
}

// The input page (pages/input.html) at zoom 1, one CSS pixel per page pixel, on the desktop
// and in VR.
class InputPage : public RealChromium, public ::testing::WithParamInterface<bool> {
protected:
    InputPage() : server_(slurp(pagesFolder / "input.html")) { settings("1", 0, server_.url, ""); }
    PageServer server_;
};

// Clicks the plain button, then the field, types, deletes, submits; clicks the field again and
// presses Escape; drags the slider; hovers over the target and away.
TEST_P(InputPage, TypingDraggingAndHovering) {
    const bool vr = GetParam();
    // In VR the panel's own space is 768 x 512 boxels with the origin at the bottom left.
    auto at = [vr](int x, int y) { return vr ? std::to_string(x) + " " + std::to_string(512 - y) : desktopAt(x, y); };
    auto state = [&](const std::string& name) { return "state " + file(name) + "\n"; };
    auto focusIn = [&](const std::string& name) {
        return slurp(file(name)).find("\"keyboard_focus\":true") != std::string::npos;
    };
    const std::string log =
        run(std::string("wait 6\n") + (vr ? "vr on\n" : "") + "command Corvane/TogglePanel once\nwait 3\n" + "click " +
            at(120, 145) + "\nwait 2\n" + state("plain.json") + "click " + at(240, 62) + "\nwait-focus on 10\n" +
            state("field.json") +
            "type KSEA \xE2\x86\x92 KPDX 1234\nkey backspace\nkey backspace\nkey enter\nwait-focus off 10\n" +
            state("entered.json") + "click " + at(240, 62) + "\nwait-focus on 10\n" + state("again.json") +
            "key escape\n" + state("escaped.json") + "key x\n" + "press " + at(48, 228) + "\ndrag " + at(120, 228) +
            "\nframes 1\ndrag " + at(200, 228) + "\nframes 1\ndrag " + at(240, 228) + "\nframes 1\nrelease " +
            at(240, 228) + "\nwait 1\nhover " + at(600, 375) + "\nwait 3\nscreenshot " + file("over.png") +
            "\nhover off\nwait 3\nscreenshot " + file("off.png") + "\nquit\n");
    EXPECT_FALSE(focusIn("plain.json")) << "a click on a plain button takes no keys";
    EXPECT_TRUE(focusIn("field.json")) << "a click on the text field takes the keys";
    EXPECT_FALSE(focusIn("entered.json")) << "the keys are back once Enter has submitted the field";
    EXPECT_TRUE(focusIn("again.json"));
    EXPECT_FALSE(focusIn("escaped.json")) << "Escape gives the keys back";
    expectOnce(log, {"xpsim: key 'x' goes to the simulator"});
    expectNone(log, {"CV: lost"});

    // Exactly the text typed, the slider dragged from 0 to about half, the target entered and
    // left. The page's reports leave it as the events happen; let the last one land.
    eventually([&] { return server_.reports().size() >= 4; }, 10);
    std::vector<std::string> r;
    for (const std::string& report : server_.reports()) r.push_back(report.substr(0, report.find("&at=")));
    EXPECT_NE(std::find(r.begin(), r.end(), "/report?text=KSEA%20%E2%86%92%20KPDX%2012"), r.end()) << log;
    const auto slider =
        std::find_if(r.begin(), r.end(), [](const std::string& s) { return s.rfind("/report?slider=", 0) == 0; });
    ASSERT_NE(slider, r.end());
    const int value = std::stoi(slider->substr(15));
    EXPECT_TRUE(value >= 40 && value <= 60) << value;
    const auto in = std::find(r.begin(), r.end(), "/report?hover=in");
    EXPECT_NE(in, r.end());
    EXPECT_NE(std::find(in, r.end(), "/report?hover=out"), r.end());
    if (vr) return;  // the desktop screenshot holds no VR panel
    EXPECT_TRUE(near(readPng(file("over.png")).page(600, 375), 255, 128, 0)) << "the target under the pointer";
    EXPECT_TRUE(near(readPng(file("off.png")).page(600, 375), 0, 0, 255)) << "the target once the pointer left";
}

INSTANTIATE_TEST_SUITE_P(DesktopAndVr, InputPage, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InVr" : "OnTheDesktop"; });

// The dialogs page (pages/dialogs.html) at zoom 1, on the desktop.
class DialogPage : public RealChromium {
protected:
    DialogPage() : server_(slurp(pagesFolder / "dialogs.html")) { settings("1", 0, server_.url, ""); }
    static std::string click(int x, int y) { return "click " + desktopAt(x, y) + "\n"; }
    static std::string click(const DialogRect& r) { return click((r.left + r.right) / 2, (r.top + r.bottom) / 2); }
    // The page's answers as it reported them, in order.
    std::vector<std::string> answers() {
        std::vector<std::string> out;
        for (const std::string& report : server_.reports())
            if (report.rfind("/report?", 0) == 0) out.push_back(report.substr(8, report.find("&at=") - 8));
        return out;
    }
    PageServer server_;
};

// One answer of each way: a click on OK and on Cancel, typed text and Enter, Escape.
TEST_F(DialogPage, EachDialogIsShownAndAnsweredByClickAndKeysAndAWaitingOneIsNoHang) {
    const DialogLayout confirm = layoutDialog({PageDialogKind::Confirm, "Log this flight?", ""}, 768, 512);
    const DialogLayout leave = layoutDialog({PageDialogKind::BeforeUnload, "", ""}, 768, 512);
    const std::string asked = "wait-focus on 1\n";  // the question is up and holds the keys
    const std::string answered = "wait-focus off 5\nwait 0.5\n";
    const std::string log =
        run("wait 6\ncommand Corvane/TogglePanel once\nwait 3\nscreenshot " + file("before.png") + "\n" +
                click(140, 65) + asked + "frames 2\nscreenshot " + file("confirm.png") +
                // A minute with the question open: nothing times out, nothing restarts.
                "\nwait 60\n" + click(confirm.ok) + answered + click(140, 65) + asked + click(confirm.cancel) +
                answered + click(140, 225) + asked + "type 12\nkey enter\n" + answered +
                // At most three questions in any 10 s: a page that asks more is a flood.
                "wait 10\n" + click(140, 225) + asked + "key escape\n" + answered +
                // The link's navigation is the pilot's: the page asks before it is left, and is left.
                click(140, 305) + asked + click(leave.ok) + "wait 4\nscreenshot " + file("opened.png") + "\nquit\n",
            {}, 200);
    expectNone(log, {"wait-focus", "could not be turned off", "within 10 s", "trying again"});
    eventually([&] { return answers().size() >= 4; }, 10);
    EXPECT_EQ(answers(), (std::vector<std::string>{"confirm=true", "confirm=false", "prompt=AB12", "prompt=null"}))
        << log;
    // Drawn where the page was: the box in the panel's colours, the page dimmed around it.
    const Image before = readPng(file("before.png")), shown = readPng(file("confirm.png"));
    EXPECT_TRUE(near(before.page(700, 20), 255, 255, 255, 4));
    EXPECT_TRUE(near(shown.page(700, 20), 85, 85, 85, 4)) << "the page dimmed around the box";
    EXPECT_TRUE(near(shown.page(confirm.box.left + 6, confirm.box.top + 6), 0xf2, 0xf2, 0xf2, 4));
    // The link's new window: its page in the panel.
    expectOnce(log, {"CV: the page opened a leave-page dialog;",
                     "CV: the page opened a new window; the panel shows its page instead.\n"});
    EXPECT_TRUE(near(readPng(file("opened.png")).page(700, 450), 0, 0xc0, 0, 8)) << log;
}

// The page scale on pages/sharp.html at zoom 1: a window larger than the page's layout, or a
// simulator whose user interface is scaled, gets a picture with one texel per pixel.
class SharpPage : public RealChromium {
protected:
    SharpPage() : server_(slurp(pagesFolder / "sharp.html")) { settings("1", 0, server_.url, ""); }
    // What the page reported of one kind ("ratio", "press"), in order.
    std::vector<std::string> reported(const std::string& kind) {
        std::vector<std::string> out;
        const std::string prefix = "/report?" + kind + "=";
        for (const std::string& report : server_.reports())
            if (report.rfind(prefix, 0) == 0)
                out.push_back(report.substr(prefix.size(), report.find("&at=") - prefix.size()));
        return out;
    }
    // Each press the page reported landed within 2 CSS pixels of where it was aimed.
    void expectPresses(const std::vector<std::pair<int, int>>& aimed, const std::string& log) {
        eventually([&] { return reported("press").size() >= aimed.size(); }, 10);
        const std::vector<std::string> presses = reported("press");
        ASSERT_EQ(presses.size(), aimed.size()) << log;
        for (std::size_t i = 0; i < aimed.size(); ++i) {
            const double x = std::stod(presses[i]), y = std::stod(presses[i].substr(presses[i].find(',') + 1));
            EXPECT_TRUE(std::abs(x - aimed[i].first) <= 2 && std::abs(y - aimed[i].second) <= 2)
                << "press " << i << " aimed at " << aimed[i].first << "," << aimed[i].second << " landed at "
                << presses[i];
        }
    }
    PageServer server_;
};

// Where a script aims for CSS pixel (x, y) of the panel whose window has its top-left at desktop
// (left, top) and `scale` boxels per CSS pixel.
std::string boxelAt(int left, int top, double scale, int x, int y) {
    return std::to_string(left + static_cast<int>(x * scale)) + " " + std::to_string(top - static_cast<int>(y * scale));
}

// The page's lines one device pixel wide at a ratio of 2, with picture pixel (0, 0) at column
// `left`, row `top` of the screenshot: upright ones in its top-left quarter, across below it.
// Drawn stretched from a smaller picture, or filtered, neighbouring lines merge.
void expectFineLines(const Image& shot, int left, int top, const std::string& what) {
    auto luminance = [&](int x, int y) {
        const Pixel p = shot.at(left + x, top + y);
        return p.r + p.g + p.b;
    };
    int apart = 0, pairs = 0;
    for (int row : {40, 250, 450})
        for (int x = 16; x < 750; ++x, ++pairs) apart += std::abs(luminance(x, row) - luminance(x + 1, row)) > 384;
    for (int column : {40, 360, 700})
        for (int y = 528; y < 1000; ++y, ++pairs)
            apart += std::abs(luminance(column, y) - luminance(column, y + 1)) > 384;
    EXPECT_GE(apart, pairs * 95 / 100) << what << ": " << apart << " of " << pairs << " neighbouring pixels apart";
}

TEST_F(SharpPage, AtScales1To2ClicksLandAndAt2TheLinesAreSharpAndAfterAHideOrANavigationThePanelIsCurrentAtOnce) {
    // The window at 768 x 512 boxels (ratio 1, red), 1152 x 768 (1.5, green), 1536 x 1024 (2,
    // blue); each scale is waited for where the ratio box shows it. At 2 the "later" box is
    // clicked and the panel hidden at once: the box turns orange unseen, and the page then
    // never paints again; shown, the panel must show it within 0.5 s. So must it the still
    // page the link opens.
    auto at = [](double scale, int x, int y) { return boxelAt(100, scale == 1 ? 980 : 1060, scale, x, y); };
    // A pilot's click, a moment after the picture came. After a showing or a load, once the
    // snapshot they take has landed: while Chromium takes one, it lays the page out for the
    // snapshot's clip and a click lands as if the page scale were 1 (seconds on a loaded machine).
    auto click = [&](double scale, int x, int y, const char* wait = "0.5") {
        return "wait " + std::string(wait) + "\nclick " + at(scale, x, y) + "\n";
    };
    const std::string log =
        run("wait 6\ncommand Corvane/TogglePanel once\nuntil " + at(1, 580, 450) + " ff0000 20\n" +
            click(1, 500, 200, "3") + "wait 0.5\ngeometry 100 1060 1252 292\nuntil " + at(1.5, 580, 450) +
            " 00ff00 10\n" + click(1.5, 520, 210) + "wait 0.5\ngeometry 100 1060 1636 36\nuntil " + at(2, 580, 450) +
            " 0000ff 10\n" + click(2, 540, 220) + "screenshot " + file("sharp.png") + "\n" + click(2, 580, 70) +
            "command Corvane/TogglePanel once\nwait 3\ncommand Corvane/TogglePanel once\nuntil " + at(2, 580, 70) +
            " ff8000 0.5\n" + click(2, 580, 340, "3") + "until " + at(2, 580, 450) + " ff00ff 0.5\nquit\n");
    expectNone(log, {"CV: lost", "CV: no live frames"});
    // Page pixel (x, y) at 2 is screenshot column 100 + x, row 20 + y.
    expectFineLines(readPng(file("sharp.png")), 100, 20, "a window of 1536 x 1024 boxels");
    expectPresses({{500, 200}, {520, 210}, {540, 220}, {580, 70}, {580, 340}}, log);
    const std::vector<std::string> ratios = reported("ratio");
    EXPECT_NE(std::find(ratios.begin(), ratios.end(), "1.5"), ratios.end()) << log;
    EXPECT_NE(std::find(ratios.begin(), ratios.end(), "2"), ratios.end()) << log;
    EXPECT_EQ(server_.pageRequests, 2) << "the page and the still page, each loaded once";
}

TEST_F(SharpPage, AtAUserInterfaceScaleOf2TheLinesAreSharpAndAClickLands) {
    // The window stays 768 x 512 boxels, 1536 x 1024 pixels; screenshots are in pixels, so
    // page pixel (x, y) is at column 2 x 100 + x, row 2 x (1080 - 980) + y.
    xpsimOptions_ = {"--ui-scale", "2"};
    // The click once the load's snapshot has landed (see the story above).
    const std::string log = run("wait 6\ncommand Corvane/TogglePanel once\nuntil " + boxelAt(100, 980, 1, 580, 450) +
                                " 0000ff 20\nwait 3\nclick " + boxelAt(100, 980, 1, 520, 210) + "\nscreenshot " +
                                file("ui2.png") + "\nquit\n");
    expectNone(log, {"CV: lost", "CV: no live frames"});
    expectFineLines(readPng(file("ui2.png")), 200, 200, "a user-interface scale of 2");
    expectPresses({{520, 210}}, log);
    const std::vector<std::string> ratios = reported("ratio");
    EXPECT_TRUE(!ratios.empty() && ratios.back() == "2") << log;
}

}  // namespace
