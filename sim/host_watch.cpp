// `watch X Y FILE`: the colour of one desktop pixel over wall-clock time, so the time from a
// change on a page to its arrival on the panel can be measured from outside the plugin. One
// pixel is read back per frame, which costs the frame little. `until X Y RRGGBB SECONDS`: frames
// run until one pixel shows a colour.
#include "host_state.h"

#include "desktop_renderer.h"
#include "utf8_path.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace xpsim {
namespace {

// "<seconds since the Unix epoch, 6 decimals> R G B", from the system clock, so the times
// compare with those of any other program on the machine (a browser's Date.now(), say).
std::string watchLine(const std::array<std::uint8_t, 3>& rgb) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    char line[64];
    std::snprintf(line, sizeof line, "%lld.%06lld %d %d %d\n", micros / 1000000, micros % 1000000, rgb[0], rgb[1],
                  rgb[2]);
    return line;
}

std::string hex(const std::array<std::uint8_t, 3>& rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return text;
}

}  // namespace

bool HostState::runUntilPixel(int x, int y, const std::array<std::uint8_t, 3>& rgb, std::int64_t maxFrames,
                              std::string& error) {
    const std::string where = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
    if (renderer_ == nullptr) {
        error = "until: there is no OpenGL context to read";
        return false;
    }
    std::array<std::uint8_t, 3> seen{};
    for (std::int64_t frame = 0;; ++frame) {
        if (!renderer_->readPixel(x, y, seen.data())) {
            error = "until: " + where + " is not on the desktop";
            return false;
        }
        bool close = true;
        for (int c = 0; c < 3; ++c) close = close && std::abs(seen[c] - rgb[c]) <= 24;
        if (close) {
            hostLine("until: " + where + " is " + hex(seen) + " after " + std::to_string(frame) +
                     (frame == 1 ? " frame" : " frames"));
            return true;
        }
        if (frame >= maxFrames || hostInterruptRequested()) break;
        runOneFrame();
    }
    error = "until: " + where + " did not turn " + hex(rgb) + " within " + std::to_string(maxFrames) +
            " frames; it is " + hex(seen);
    return false;
}

bool HostState::watch(int x, int y, const std::string& path, std::string& error) {
    if (renderer_ == nullptr) {
        error = "watch: there is no OpenGL context to read";
        return false;
    }
    std::array<std::uint8_t, 3> rgb{};
    if (!renderer_->readPixel(x, y, rgb.data())) {
        error = "watch: (" + std::to_string(x) + ", " + std::to_string(y) + ") is not on the desktop";
        return false;
    }
    auto next = std::make_unique<PixelWatch>();
    next->out.open(utf8Path(path), std::ios::out | std::ios::app | std::ios::binary);
    next->out << watchLine(rgb);
    next->out.flush();
    if (!next->out) {
        error = "cannot write " + path;
        return false;
    }
    next->x = x;
    next->y = y;
    next->path = path;
    next->last = rgb;
    watch_ = std::move(next);
    return true;
}

bool HostState::unwatch() {
    const bool watching = watch_ != nullptr;
    watch_.reset();
    return watching;
}

void HostState::checkWatch() {
    std::array<std::uint8_t, 3> rgb{};
    if (renderer_ == nullptr || !renderer_->readPixel(watch_->x, watch_->y, rgb.data()) || rgb == watch_->last) return;
    watch_->last = rgb;
    // Written through at once: a reader may follow the file while the script runs.
    watch_->out << watchLine(rgb);
    watch_->out.flush();
    if (!watch_->out) {
        hostLine("watch: cannot write " + watch_->path + " any more; the watch ends");
        watch_.reset();
    }
}

}  // namespace xpsim
