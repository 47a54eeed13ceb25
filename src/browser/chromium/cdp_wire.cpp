#include "browser/chromium/cdp_wire.h"

#include <algorithm>
#include <array>
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
    if (nul == nullptr) {
        scanned_ = buffer_.size();
        if (scanned_ - consumed_ > maxMessageBytes_) {
            failed_ = true;
            buffer_.clear();
            buffer_.shrink_to_fit();
            consumed_ = scanned_ = 0;
        }
        return std::nullopt;
    }
    const std::size_t end = static_cast<const char*>(nul) - buffer_.data();
    if (end - consumed_ > maxMessageBytes_) {
        failed_ = true;
        buffer_.clear();
        buffer_.shrink_to_fit();
        consumed_ = scanned_ = 0;
        return std::nullopt;
    }
    std::string message = buffer_.substr(consumed_, end - consumed_);
    consumed_ = scanned_ = end + 1;
    return message;
}

namespace {

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

}  // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    out.resize(text.size() / 4 * 3 - padding);

    std::size_t o = 0;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::uint32_t quad = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            int v = decodeTable[c];
            if (v < 0) {
                // '=' only as padding at the very end.
                if (c != '=' || !last || k < 4 - padding) return false;
                v = 0;
            }
            quad = (quad << 6) | static_cast<std::uint32_t>(v);
        }
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(quad >> 16), static_cast<std::uint8_t>(quad >> 8),
                                       static_cast<std::uint8_t>(quad)};
        const std::size_t n = last ? 3 - padding : 3;
        for (std::size_t k = 0; k < n; ++k) out[o++] = bytes[k];
    }
    return true;
}

std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<std::uint32_t>(wc);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool usableZoom(double factor) { return std::isfinite(factor) && factor > 0.0; }

double effectiveZoom(double factor) { return std::clamp(factor, 0.05, 10.0); }

Viewport viewportFor(int width, int height, double factor) {
    factor = effectiveZoom(factor);
    Viewport v{};
    v.clipWidth = width / factor;
    v.clipHeight = height / factor;
    // Rounding the layout size to the nearest CSS pixel can leave it a device pixel short of
    // the snapshot (768 / 1.25 = 614.4); the clip keeps the snapshot exact either way.
    v.layoutWidth = static_cast<int>(std::ceil(v.clipWidth - 1e-9));
    v.layoutHeight = static_cast<int>(std::ceil(v.clipHeight - 1e-9));
    v.deviceScale = factor;
    return v;
}

double pageToCss(int pixel, double factor) { return pixel / effectiveZoom(factor); }

}  // namespace cdp
