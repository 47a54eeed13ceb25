#include "plugin/text_encoding.h"

#if defined(_WIN32)
#    include <windows.h>
#endif

namespace {

constexpr char32_t replacement = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void appendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = replacement;
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr unsigned char leads[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(leads[extra] | (code >> (6 * extra)));
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6) out += static_cast<char>(0x80 | ((code >> shift) & 0x3F));
}

void appendWide(std::wstring& out, char32_t code) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (code >> 10));
            out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(code);
}

void appendCode(std::u32string& out, char32_t code) { out += code; }

// All of `text`, each character appended to an Out with `append` (U+FFFD per byte of a malformed
// sequence); nothing at all when `strictly` and some sequence is malformed.
template <class Out>
std::optional<Out> decodeInto(std::string_view text, bool strictly, void (*append)(Out&, char32_t)) {
    Out out;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Character c = decodeUtf8At(text, i);
        if (c.length == 0 && strictly) return std::nullopt;
        append(out, c.length == 0 ? replacement : c.code);
        i += c.length == 0 ? 1 : c.length;
    }
    return out;
}

}  // namespace

Utf8Character decodeUtf8At(std::string_view text, std::size_t at) {
    if (at >= text.size()) return {};
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1};
    const std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return {};
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (!isContinuation(next)) return {};
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
    return {code, length};
}

std::u32string decodeUtf8(std::string_view text) { return *decodeInto(text, false, appendCode); }

std::size_t wholeCharactersWithin(std::string_view text, std::size_t limit) {
    const std::string_view kept = text.substr(0, limit);
    if (kept.empty()) return 0;
    // Back from the end to the start of the last character, at most three bytes back.
    std::size_t start = kept.size() - 1;
    while (start > 0 && kept.size() - start < 4 && isContinuation(static_cast<unsigned char>(kept[start]))) --start;
    const Utf8Character last = decodeUtf8At(kept, start);
    return last.length != 0 && start + last.length == kept.size() ? kept.size() : start;
}

std::string toUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        auto code = static_cast<char32_t>(wide[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            code &= 0xFFFF;
            const bool pairs = code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() &&
                               (static_cast<char32_t>(wide[i + 1]) & 0xFC00) == 0xDC00;
            if (pairs)
                code = 0x10000 + ((code - 0xD800) << 10) + ((static_cast<char32_t>(wide[++i]) & 0xFFFF) - 0xDC00);
        }
        appendUtf8(out, code);
    }
    return out;
}

std::wstring toWide(std::string_view utf8) { return *decodeInto(utf8, false, appendWide); }

std::optional<std::wstring> toWideStrictly(std::string_view utf8) { return decodeInto(utf8, true, appendWide); }

#if defined(_WIN32)
std::wstring fromAnsiCodePage(std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n) != n) return std::wstring();
    return wide;
}
#endif
