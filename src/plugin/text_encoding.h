// Text between the plugin's UTF-8 and the wide strings the system's calls take: UTF-16 where
// wchar_t has 16 bits (Windows), UTF-32 elsewhere. One UTF-8 decoder serves every use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The whole character starting at `at`, or a length of 0 when the bytes there are not one: a
// stray continuation byte, a sequence cut short, an overlong form, a surrogate or a value
// beyond U+10FFFF.
struct Utf8Character {
    char32_t code = 0;
    std::size_t length = 0;
};
Utf8Character decodeUtf8At(std::string_view text, std::size_t at);

// Every character, each byte of a malformed sequence shown as U+FFFD.
std::u32string decodeUtf8(std::string_view text);

// The length of the longest start of `text`, of at most `limit` bytes, that ends with a whole
// character (a cut that split one, or a malformed last one, is left out).
std::size_t wholeCharactersWithin(std::string_view text, std::size_t limit);

// Wide text as UTF-8; an unpaired surrogate or a value beyond U+10FFFF becomes U+FFFD.
std::string toUtf8(std::wstring_view wide);
// UTF-8 as wide text, a malformed sequence as U+FFFD (strictly: nothing at all).
std::wstring toWide(std::string_view utf8);
std::optional<std::wstring> toWideStrictly(std::string_view utf8);

#if defined(_WIN32)
// Text in the system's ANSI code page (what a simulator without native paths, and the settings
// file, hand over) as UTF-16; nothing at all when the code page cannot convert it.
std::wstring fromAnsiCodePage(std::string_view text);
#endif
