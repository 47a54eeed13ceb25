// capture_probe: the Linux browser's snapshots at work, without the simulator. It drives
// headless Chromium through the backend's own pipe connection, as the plugin does, and
// measures for each PNG encoding the browser offers (its default, and its speed-optimised one,
// "optimizeForSpeed"): the time from a Page.captureScreenshot request to its decoded answer,
// the PNG's size, the CPU the browser spends taking snapshots twice a second, and the time our
// PNG decoder takes on that snapshot against bare libpng on the same bytes. Prints one JSON
// object. Not a test: the numbers depend on the machine and its load (scripts/bench).
//
//   capture_probe --browser PATH --page URL [--zoom Z] [--captures N] [--cpu-seconds S] [--out DIR]
#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_wire.h"
#include "browser/chromium/chromium_process.h"
#include "browser/chromium/profile_cleanup.h"
#include "browser/chromium/snapshot_request.h"
#include "pipeline/decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// CPU seconds (user and system, reaped children included) of every process in the browser's
// process group: the browser and its helpers, which it starts in a group of their own.
double browserCpuSeconds(pid_t group) {
    double ticks = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // Fields after the command name, which may hold spaces and ends at the last ')'.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f;
        for (std::string word; fields >> word && f.size() < 15;) f.push_back(word);
        // f[0] is field 3 (state): pgrp is field 5, utime..cstime fields 14 to 17.
        if (f.size() < 15 || std::stol(f[2]) != group) continue;
        for (int i = 11; i <= 14; ++i) ticks += std::stod(f[static_cast<std::size_t>(i)]);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One browser with one attached page, driven step by step.
class Browser {
public:
    Browser(const std::string& executable, double zoom) : zoom_(zoom) {
        int toBrowser = -1, fromBrowser = -1;
        std::string error;
        profile_ = chromium::makePrivateProfile(P_tmpdir, error);
        if (profile_.empty()) throw std::runtime_error("cannot make a profile: " + error);
        process_ = chromium::BrowserProcess::launch(executable, profile_, toBrowser, fromBrowser, error);
        if (!process_) throw std::runtime_error("cannot start the browser: " + error);
        connection_ = std::make_unique<cdp::Connection>(toBrowser, fromBrowser);

        cdp::Completion targets = call(cdp::Request::ListTargets, "Target.getTargets", json::object());
        std::string target = targets.value;
        if (target.empty())
            target = call(cdp::Request::CreateTarget, "Target.createTarget", {{"url", "about:blank"}}).value;
        session_ = call(cdp::Request::Attach, "Target.attachToTarget", {{"targetId", target}, {"flatten", true}}).value;
        const cdp::Viewport v = cdp::viewportFor(768, 512, zoom_);
        call(cdp::Request::SetViewport, "Emulation.setDeviceMetricsOverride",
             {{"width", v.layoutWidth},
              {"height", v.layoutHeight},
              {"deviceScaleFactor", v.deviceScale},
              {"mobile", false}},
             session_);
    }

    ~Browser() {
        connection_->send(cdp::Request::Close, "Browser.close", json::object());
        process_->terminate(std::chrono::seconds(2));
        connection_.reset();
        cleanup_.discard(profile_);
        cleanup_.stop(Clock::now() + std::chrono::seconds(30));
    }

    pid_t pid() const { return process_->pid(); }

    void navigate(const std::string& url) {
        const cdp::Completion done = call(cdp::Request::Navigate, "Page.navigate", {{"url", url}}, session_);
        if (!done.text.empty()) throw std::runtime_error("the page did not load: " + done.text);
    }

    // One snapshot exactly as the plugin asks for it, plus the encoding option; the PNG bytes
    // and the time from request to decoded answer.
    std::vector<std::uint8_t> snapshot(bool optimizeForSpeed, double& millis) {
        json params = cdp::snapshotParams(cdp::viewportFor(768, 512, zoom_));
        params["optimizeForSpeed"] = optimizeForSpeed;
        const auto start = Clock::now();
        cdp::Completion done = call(cdp::Request::Snapshot, "Page.captureScreenshot", params, session_);
        millis = millisSince(start);
        return std::move(done.snapshot.bytes);
    }

private:
    cdp::Completion call(cdp::Request request, const std::string& method, const json& params,
                         const std::string& session = {}) {
        connection_->send(request, method, params, session);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        for (;;) {
            if (connection_->hasCompletions()) {
                for (auto& c : connection_->takeCompletions()) waiting_.push_back(std::move(c));
            }
            for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
                if (it->type == cdp::Completion::Type::Lost) throw std::runtime_error("lost the browser: " + it->text);
                if (it->request != request) continue;
                cdp::Completion found = std::move(*it);
                waiting_.erase(it);
                if (!found.ok) throw std::runtime_error(method + " failed: " + found.text);
                return found;
            }
            if (Clock::now() > deadline) throw std::runtime_error(method + " got no answer within 30 s");
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }

    double zoom_;
    std::string profile_;  // outlives the browser that runs on it
    chromium::ProfileCleanup cleanup_;
    std::unique_ptr<chromium::BrowserProcess> process_;
    std::unique_ptr<cdp::Connection> connection_;
    std::deque<cdp::Completion> waiting_;
    std::string session_;
};

// PNG to 8-bit BGRA with libpng's plain reading API and the fewest transforms that give the
// decoder's output format: the reference our decoder is compared with.
bool bareLibpng(const std::vector<std::uint8_t>& bytes, std::vector<std::uint8_t>& pixels) {
    struct Source {
        const std::uint8_t* next;
        std::size_t left;
    } source{bytes.data(), bytes.size()};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t count) {
        auto* s = static_cast<Source*>(png_get_io_ptr(p));
        if (count > s->left) png_error(p, "truncated");
        std::memcpy(out, s->next, count);
        s->next += count;
        s->left -= count;
    });
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    pixels.resize(static_cast<std::size_t>(width) * height * 4);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + static_cast<std::size_t>(y) * width * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct Variant {
    const char* name;
    bool optimizeForSpeed;
    std::vector<double> captureMillis;
    std::vector<std::uint8_t> lastPng;
    double cpuSeconds = 0, cpuWallSeconds = 0;
};

const char* argument(int argc, char** argv, const char* name, const char* fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    }
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string executable = argument(argc, argv, "--browser", "/usr/bin/chromium");
    const std::string page = argument(argc, argv, "--page", "");
    const double zoom = std::atof(argument(argc, argv, "--zoom", "0.5"));
    const int captures = std::atoi(argument(argc, argv, "--captures", "40"));
    const double cpuSeconds = std::atof(argument(argc, argv, "--cpu-seconds", "30"));
    const std::string out = argument(argc, argv, "--out", "");
    if (page.empty()) {
        std::fprintf(stderr, "usage: capture_probe --browser PATH --page URL [--zoom Z] [--captures N] "
                             "[--cpu-seconds S] [--out DIR]\n");
        return 64;
    }
    try {
        Variant variants[] = {{"default", false, {}, {}}, {"optimizeForSpeed", true, {}, {}}};
        Browser browser(executable, zoom);
        browser.navigate(page);
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the page loads and paints

        // Request to answer, the two encodings taken in turns so that drift in the machine's
        // load falls on both alike.
        for (int i = 0; i < captures; ++i) {
            for (Variant& v : variants) {
                double millis = 0;
                v.lastPng = browser.snapshot(v.optimizeForSpeed, millis);
                v.captureMillis.push_back(millis);
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
        }

        // The browser's CPU while it takes a snapshot every 0.5 s, as for a panel on show; each
        // encoding in two spells, taken in turns.
        for (int spell = 0; spell < (cpuSeconds > 0 ? 4 : 0); ++spell) {
            Variant& v = variants[spell % 2];
            const double before = browserCpuSeconds(browser.pid());
            const auto start = Clock::now();
            auto next = start;
            while (Clock::now() - start < std::chrono::duration<double>(cpuSeconds / 2)) {
                double ignored = 0;
                browser.snapshot(v.optimizeForSpeed, ignored);
                next += std::chrono::milliseconds(500);
                std::this_thread::sleep_until(next);
            }
            v.cpuSeconds += browserCpuSeconds(browser.pid()) - before;
            v.cpuWallSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        }

        json report = json::object();
        for (Variant& v : variants) {
            std::vector<double> ours, bare;
            std::vector<std::uint8_t> pixels;
            const PngBuffer snapshot(v.lastPng);
            for (int i = 0; i < 30; ++i) {
                std::uint32_t width = 0, height = 0;
                auto start = Clock::now();
                if (!decodeSnapshot(snapshot, pixels, width, height)) throw std::runtime_error("our decoder failed");
                ours.push_back(millisSince(start));
                start = Clock::now();
                if (!bareLibpng(v.lastPng, pixels)) throw std::runtime_error("libpng failed");
                bare.push_back(millisSince(start));
            }
            if (!out.empty()) {
                std::ofstream(std::filesystem::path(out) / (std::string("snapshot-") + v.name + ".png"),
                              std::ios::binary)
                    .write(reinterpret_cast<const char*>(v.lastPng.data()),
                           static_cast<std::streamsize>(v.lastPng.size()));
            }
            report[v.name] = {{"capture_ms_median", median(v.captureMillis)},
                              {"png_bytes", v.lastPng.size()},
                              {"browser_cpu_s_per_min",
                               v.cpuWallSeconds > 0 ? json(v.cpuSeconds / v.cpuWallSeconds * 60) : json(nullptr)},
                              {"decode_ms_median", median(ours)},
                              {"libpng_ms_median", median(bare)}};
        }
        // Which of the two the plugin sends.
        report["plugin"] = cdp::snapshotParams(cdp::viewportFor(768, 512, zoom)).value("optimizeForSpeed", false)
                               ? "optimizeForSpeed"
                               : "default";
        std::printf("%s\n", report.dump(2).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "capture_probe: %s\n", e.what());
        return 1;
    }
    return 0;
}
