// Reading the settings file and the text conversions (the write-back is shown by the module
// tests, on the module's own file).
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

#include "plugin/log.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

TEST(Settings, ValuesAreReadLikeAtofAndAMissingFileKeepsTheDefaults)
{
    testHost();
    const std::string path = makeTempFolder() + "/cv_settings.ini";
    auto load = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        settingsIni.Reset();
        loadSettingsFrom(path);
    };

    newLogText();
    load("[General]\nrefreshWebPageSecs = 30.9\nzoomLevel = abc\nWebURL = caf\xC3\xA9\n");
    EXPECT_EQ(refreshWebPageSecs, 30);
    EXPECT_EQ(zoomLevel, 0.0f);
    EXPECT_EQ(webUrl, L"caf\u00E9");
    load("[General]\nrefreshWebPageSecs = -2.9\n");
    EXPECT_EQ(refreshWebPageSecs, -2);
    // Beyond int the period is pinned rather than wrapped into a negative "never".
    load("[General]\nrefreshWebPageSecs = 1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MAX);
    load("[General]\nrefreshWebPageSecs = -1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MIN);
    load("");
    EXPECT_EQ(newLogText(), "");
    EXPECT_EQ(refreshWebPageSecs, 60);
    EXPECT_EQ(webUrl, std::wstring(defaultWebUrlWide));

    zoomLevel = 0.75f;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    settingsIni.Reset();
    loadSettingsFrom(path);
    EXPECT_EQ(newLogText(), "Error loading INI from " + path + ". Reverting to defaults..\n");
    EXPECT_EQ(zoomLevel, 0.75f);
    zoomLevel = 0.5f;
}

TEST(Settings, WideTextIsStrictUtf8)
{
    EXPECT_EQ(toWideString(nullptr), L"");
    EXPECT_EQ(toWideString("https://a.b/c?d=e"), L"https://a.b/c?d=e");
    EXPECT_EQ(toWideString("\xE2\x82\xAC \xF0\x9F\x9B\xA9"), L"\u20AC \U0001F6E9");
    // Malformed input gives an empty text, as a failed conversion does on Windows.
    for (const char* bad : {"caf\xC3", "caf\xE9 au lait", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_EQ(toWideString(bad), L"") << bad;
}

TEST(Settings, LogLinesAreCutAt255Characters)
{
    testHost();
    newLogText();
    debugLog("CV: %d %s\n", 42, "x");
    EXPECT_EQ(newLogText(), "CV: 42 x\n");
    debugLog("%s", std::string(400, 'a').c_str());
    EXPECT_EQ(newLogText(), std::string(255, 'a'));
}

}  // namespace
