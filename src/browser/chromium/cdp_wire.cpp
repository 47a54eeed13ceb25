#include "browser/chromium/cdp_wire.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cdp {

bool MessageReader::feed(const char* data, std::size_t size) {
    if (failed_) return false;
    // Drop what was handed out before growing, so the buffer holds at most one message plus
    // the bytes of one read.
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        scanned_ -= consumed_;
        consumed_ = 0;
    }
    buffer_.append(data, size);
    return true;
}

std::optional<std::string> MessageReader::next() {
    if (failed_) return std::nullopt;
    const void* nul = std::memchr(buffer_.data() + scanned_, '\0', buffer_.size() - scanned_);
    // Without a NUL, the message so far.
    const std::size_t end = nul != nullptr ? static_cast<const char*>(nul) - buffer_.data() : buffer_.size();
    if (end - consumed_ > maxMessageBytes_) {
        failed_ = true;
        buffer_.clear();
        buffer_.shrink_to_fit();
        consumed_ = scanned_ = 0;
        return std::nullopt;
    }
    if (nul == nullptr) {
        scanned_ = end;
        return std::nullopt;
    }
    std::string message = buffer_.substr(consumed_, end - consumed_);
    consumed_ = scanned_ = end + 1;
    return message;
}

bool usableZoom(double factor) { return std::isfinite(factor) && factor > 0.0; }

double effectiveZoom(double factor) { return std::clamp(factor, 0.05, 10.0); }

bool usablePageScale(double scale) { return std::isfinite(scale) && scale >= 1.0 && scale <= 3.0; }

Viewport viewportFor(int width, int height, double factor, double scale) {
    factor = effectiveZoom(factor);
    Viewport v{};
    v.clipWidth = width / factor;
    v.clipHeight = height / factor;
    // Rounding the layout size to the nearest CSS pixel can leave it a device pixel short of
    // the snapshot (768 / 1.25 = 614.4); the clip keeps the snapshot exact either way.
    v.layoutWidth = static_cast<int>(std::ceil(v.clipWidth - 1e-9));
    v.layoutHeight = static_cast<int>(std::ceil(v.clipHeight - 1e-9));
    v.deviceScale = factor * scale;
    v.pictureWidth = static_cast<int>(std::lround(width * scale));
    v.pictureHeight = static_cast<int>(std::lround(height * scale));
    return v;
}

double pageToCss(int pixel, int pixels, double clipCss) { return pixels > 0 ? pixel * clipCss / pixels : pixel; }

}  // namespace cdp
