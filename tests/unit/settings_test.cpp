// Reading and writing the settings file, and the text conversions.
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

TEST(Settings, TheFileIsReadLikeAtofAndWrittenBackWholeAndTextIsStrictUtf8)
{
    testHost();
    const std::string path = (std::filesystem::temp_directory_path() / "cv_unit_settings.ini").string();
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
    load("[General]\nrefreshWebPageSecs = abc\n");
    EXPECT_EQ(refreshWebPageSecs, 0);
    // Beyond int the period is pinned rather than wrapped into a negative "never".
    load("[General]\nrefreshWebPageSecs = 1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MAX);
    load("[General]\nrefreshWebPageSecs = -1e12\n");
    EXPECT_EQ(refreshWebPageSecs, INT_MIN);
    load("");
    EXPECT_EQ(refreshWebPageSecs, 60);
    EXPECT_EQ(webUrl, std::wstring(defaultWebUrlWide));
    EXPECT_EQ(panelInput, PanelInput::Full);
    EXPECT_EQ(newLogText(), "");
    // The panel's input: "clicks" in any case keeps the click-only panel; anything else but
    // "full" is told and means full.
    load("[General]\nPanelInput = Clicks\n");
    EXPECT_EQ(panelInput, PanelInput::Clicks);
    load("[General]\nPanelInput = clicks only\n");
    EXPECT_EQ(panelInput, PanelInput::Full);
    EXPECT_EQ(newLogText(), "CV: PanelInput \"clicks only\" is neither full nor clicks; using full.\n");

    // Section and key names match without regard to case; an empty address stays empty.
    load("; my notes\n[Other]\nkeep = me\n\n[general]\nZOOMLEVEL = 1.25\nweburl =\nmine = 42\n");
    EXPECT_EQ(zoomLevel, 1.25f);
    EXPECT_EQ(webUrl, L"");
    zoomLevel = 0.45f;
    storeZoomLevel();
    saveSettingsTo(path);
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    for (const char* kept : {"[Other]", "keep = me", "mine = 42", "weburl =", "0.450000"})
        EXPECT_NE(text.str().find(kept), std::string::npos) << kept << " in\n" << text.str();

    // A file saved with a UTF-8 byte-order mark keeps it.
    load("\xEF\xBB\xBF[General]\nzoomLevel = 1\n");
    saveSettingsTo(path);
    text.str("");
    text << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str().rfind("\xEF\xBB\xBF[General]\n", 0), 0u) << text.str();
    std::filesystem::remove(path);

    // Addresses are strict UTF-8 (malformed input gives an empty text, as a failed conversion
    // does on Windows); log lines are cut at 255 characters.
    EXPECT_EQ(toWideString("\xE2\x82\xAC \xF0\x9F\x9B\xA9"), L"\u20AC \U0001F6E9");
    for (const char* bad : {"caf\xC3", "caf\xE9 au lait", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_EQ(toWideString(bad), L"") << bad;
    debugLog("CV: %d %s\n", 42, "x");
    EXPECT_EQ(newLogText(), "CV: 42 x\n");
    debugLog("%s", std::string(400, 'a').c_str());
    EXPECT_EQ(newLogText(), std::string(255, 'a'));
    // A cut never splits a character of a UTF-8 path: the whole character goes.
    debugLog("%s", (std::string(254, 'a') + "\xD0\x96").c_str());
    EXPECT_EQ(newLogText(), std::string(254, 'a'));
    debugLog("%s", (std::string(253, 'a') + "\xE9\xA3\x9B").c_str());
    EXPECT_EQ(newLogText(), std::string(253, 'a'));
    debugLog("%s", (std::string(252, 'a') + "\xE9\xA3\x9B" + "b").c_str());
    EXPECT_EQ(newLogText(), std::string(252, 'a') + "\xE9\xA3\x9B");
}

TEST(Settings, AFileTheFormatCannotWriteBackIsLeftAsThePilotWroteIt)
{
    testHost();
    const std::string path = (std::filesystem::temp_directory_path() / "cv_unit_settings_typo.ini").string();
    auto contents = [&] {
        std::stringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        return text.str();
    };
    // A header missing its "]" files the keys below it under a name running on into the next
    // line; written out, that name would read back as another, and each save would add a line.
    const std::string typo = "[General\nzoomLevel = 1.25\nrefreshWebPageSecs = 30\n[Other]\nkeep = me\n";
    std::ofstream(path, std::ios::binary) << typo;
    settingsIni.Reset();
    newLogText();
    loadSettingsFrom(path);
    EXPECT_EQ(zoomLevel, 0.5f) << "the keys are not in [General]";
    zoomLevel = 0.55f;
    storeZoomLevel();
    saveSettingsTo(path);
    EXPECT_EQ(contents(), typo);
    EXPECT_EQ(newLogText(), "CV: could not save the settings to " + path +
                                " (the file holds a line the settings format cannot write back, such as a section "
                                "header without its ']'); the file on disk is as it was\n");

    // Mended by the pilot, it is saved again.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "[General]\nzoomLevel = 1.25\n";
    settingsIni.Reset();
    loadSettingsFrom(path);
    storeZoomLevel();
    saveSettingsTo(path);
    EXPECT_EQ(newLogText(), "");
    EXPECT_NE(contents().find("zoomLevel = 1.250000"), std::string::npos) << contents();
    std::filesystem::remove(path);
}

}  // namespace
