// The one UTF-8 unit, on both platforms (wide text is UTF-16 on Windows, UTF-32 on Linux).
#include <gtest/gtest.h>

#include <string>

#include "plugin/text_encoding.h"

TEST(TextEncoding, WideAndUtf8RoundTripEveryPlaneAndMalformedInputIsReplacedOrRefused) {
    // 'a', e-acute, the euro sign and an emoji from beyond the 16-bit plane.
    const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring wide = toWide(utf8);
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 5u : 4u);
    EXPECT_EQ(toUtf8(wide), utf8);
    EXPECT_EQ(toWideStrictly(utf8), wide);
    EXPECT_EQ(decodeUtf8(utf8), std::u32string(U"a\u00E9\u20AC\U0001F600"));

    // A lone surrogate on the wide side never becomes malformed UTF-8.
    EXPECT_EQ(toUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    // An overlong '/', an encoded surrogate, a value beyond U+10FFFF, a stray continuation
    // byte and a sequence cut short: each refused strictly, each byte shown as U+FFFD otherwise.
    for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE2\x82"}) {
        EXPECT_FALSE(toWideStrictly("x" + bad)) << bad.size();
        EXPECT_EQ(decodeUtf8(bad), std::u32string(bad.size(), U'\uFFFD'));
        EXPECT_EQ(decodeUtf8At(bad, 0).length, 0u);
    }
}
