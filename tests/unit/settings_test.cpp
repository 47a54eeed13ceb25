// The settings file: parsing, defaults, the shutdown write, and the text conversions.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "plugin/log.h"
#include "plugin/settings.h"
#include "test_host.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testHost();
        newLogText();
        folder = makeTempFolder();
        ASSERT_FALSE(folder.empty());
        path = folder + "/cv_settings.ini";
        settingsIni.Reset();
        zoomLevel = 0.5f;
        refreshWebPageSecs = 60;
        webUrl = defaultWebUrlWide;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void write(const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    void load(const std::string& text)
    {
        write(text);
        loadSettingsFrom(path);
    }

    std::string folder;
    std::string path;
};

TEST_F(SettingsTest, MissingFileIsLoggedWithItsPathAndKeepsTheDefaults)
{
    loadSettingsFrom(path);
    EXPECT_EQ(newLogText(), "Error loading INI from " + path + ". Reverting to defaults..\n");
    EXPECT_EQ(zoomLevel, 0.5f);
    EXPECT_EQ(refreshWebPageSecs, 60);
    EXPECT_EQ(webUrl, std::wstring(defaultWebUrlWide));
}

TEST_F(SettingsTest, EmptyFileGivesTheDefaultsWithoutALogLine)
{
    load("");
    EXPECT_EQ(newLogText(), "");
    EXPECT_EQ(zoomLevel, 0.5f);
    EXPECT_EQ(refreshWebPageSecs, 60);
    EXPECT_EQ(webUrl, std::wstring(defaultWebUrlWide));
}

TEST_F(SettingsTest, SectionAndKeyNamesIgnoreCase)
{
    load("[general]\nZOOMLEVEL = 1.25\nrefreshwebpagesecs = 15\nweburl = http://localhost:8000/x\n");
    EXPECT_EQ(zoomLevel, 1.25f);
    EXPECT_EQ(refreshWebPageSecs, 15);
    EXPECT_EQ(webUrl, L"http://localhost:8000/x");
}

TEST_F(SettingsTest, NumbersAreReadLikeAtofAndTruncated)
{
    load("[General]\nrefreshWebPageSecs = 30.9\nzoomLevel = abc\n");
    EXPECT_EQ(refreshWebPageSecs, 30);
    EXPECT_EQ(zoomLevel, 0.0f);

    load("[General]\nrefreshWebPageSecs = abc\n");
    EXPECT_EQ(refreshWebPageSecs, 0);
    load("[General]\nrefreshWebPageSecs = -2.9\n");
    EXPECT_EQ(refreshWebPageSecs, -2);
    // Beyond int the period is pinned rather than wrapped into a negative "never".
    load("[General]\nrefreshWebPageSecs = 1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MAX);
    load("[General]\nrefreshWebPageSecs = -1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MIN);
}

TEST_F(SettingsTest, EmptyWebUrlStaysEmpty)
{
    load("[General]\nWebURL =\n");
    EXPECT_EQ(webUrl, L"");
}

TEST_F(SettingsTest, OtherSectionsAndKeysSurviveTheWriteBack)
{
    load("[Other]\nkeep = me\n[General]\nWebURL = http://example.test/\nextra = 7\n");
    zoomLevel = 0.55f;
    storeZoomLevel();
    saveSettingsTo(path);

    settingsIni.Reset();
    loadSettingsFrom(path);
    EXPECT_STREQ(settingsIni.GetValue("Other", "keep", ""), "me");
    EXPECT_STREQ(settingsIni.GetValue("General", "extra", ""), "7");
    EXPECT_STREQ(settingsIni.GetValue("General", "WebURL", ""), "http://example.test/");
    EXPECT_STREQ(settingsIni.GetValue("General", "zoomLevel", ""), "0.550000");
}

TEST_F(SettingsTest, ARunWithoutFileOrZoomStepLeavesAnEmptyFile)
{
    loadSettingsFrom(path);
    saveSettingsTo(path);
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(SettingsTest, ARunWithoutFileAndOneZoomStepWritesOnlyTheZoom)
{
    loadSettingsFrom(path);
    zoomLevel = 0.55f;
    storeZoomLevel();
    saveSettingsTo(path);
    const std::string text = read();
    EXPECT_NE(text.find("[General]"), std::string::npos) << text;
    EXPECT_NE(text.find("zoomLevel = 0.550000"), std::string::npos) << text;
    EXPECT_EQ(text.find("refreshWebPageSecs"), std::string::npos) << text;
    EXPECT_EQ(text.find("WebURL"), std::string::npos) << text;
}

TEST(WideText, NullAndAsciiConvert)
{
    EXPECT_EQ(toWideString(nullptr), L"");
    EXPECT_EQ(toWideString(""), L"");
    EXPECT_EQ(toWideString("https://a.b/c?d=e"), L"https://a.b/c?d=e");
}

TEST(WideText, Utf8BecomesOneWideCharacterPerCodePoint)
{
    EXPECT_EQ(toWideString("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(toWideString("\xE2\x82\xAC"), L"\u20AC");
    EXPECT_EQ(toWideString("\xF0\x9F\x9B\xA9"), L"\U0001F6E9");
}

TEST(WideText, MalformedUtf8GivesEmptyText)
{
    EXPECT_EQ(toWideString("caf\xC3"), L"");           // cut short
    EXPECT_EQ(toWideString("caf\xE9 au lait"), L"");   // a Latin-1 byte
    EXPECT_EQ(toWideString("\xC0\xAF"), L"");          // overlong '/'
    EXPECT_EQ(toWideString("\xED\xA0\x80"), L"");      // surrogate
    EXPECT_EQ(toWideString("\xF4\x90\x80\x80"), L"");  // beyond U+10FFFF
}

TEST(DebugLog, FormatsAndCutsAt255Characters)
{
    testHost();
    newLogText();
    debugLog("CV: %d %s\n", 42, "x");
    EXPECT_EQ(newLogText(), "CV: 42 x\n");
    const std::string longText(400, 'a');
    debugLog("%s", longText.c_str());
    EXPECT_EQ(newLogText(), std::string(255, 'a'));
}

}  // namespace
