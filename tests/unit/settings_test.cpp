// Reading and writing the settings file, and the text conversions.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "plugin/log.h"
#include "plugin/settings.h"
#include "plugin/settings_file.h"
#include "processes.h"
#include "test_host.h"

namespace {

using testprocs::slurp;

TEST(Settings, TheFileIsReadLikeAtofAndWrittenBackWholeAndTextIsStrictUtf8) {
    testHost();
    const std::string path = (std::filesystem::temp_directory_path() / "cv_unit_settings.ini").string();
    auto load = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
        settingsIni.Reset();
        loadSettingsFrom(path);
    };

    newLogText();
    load("[General]\nzoomLevel = abc\nWebURL = caf\xC3\xA9\n");
    EXPECT_EQ(zoomLevel, 0.0f);
    EXPECT_EQ(webUrl, L"caf\u00E9");
    // Beyond int the period is pinned rather than wrapped into a negative "never".
    const std::pair<const char*, int> periods[] = {{"30.9", 30}, {"abc", 0}, {"1e12", INT_MAX}, {"-1e12", INT_MIN}};
    for (const auto& [text, period] : periods) {
        load(std::string("[General]\nrefreshWebPageSecs = ") + text + "\n");
        EXPECT_EQ(refreshWebPageSecs, period) << text;
    }
    load("");
    EXPECT_EQ(refreshWebPageSecs, 60);
    EXPECT_EQ(webUrl, std::wstring(defaultWebUrlWide));
    EXPECT_EQ(panelInput, PanelInput::Full);
    // A file of exactly the 1 MiB a settings file may have is still read.
    std::string largest = "[General]\nzoomLevel = 1.5\n";
    largest.resize(largestFileRead, '\n');
    load(largest);
    EXPECT_EQ(zoomLevel, 1.5f);
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

    // A file saved with a UTF-8 byte-order mark keeps it.
    load("\xEF\xBB\xBF[General]\nzoomLevel = 1\n");
    storeZoomLevel();
    saveSettingsTo(path);
    EXPECT_EQ(slurp(path).rfind("\xEF\xBB\xBF[General]\n", 0), 0u) << slurp(path);
    std::filesystem::remove(path);

    // Addresses are strict UTF-8: malformed input (each kind the text-encoding test has) gives an
    // empty text, as a failed conversion does on Windows. Log lines are cut at 255 characters.
    EXPECT_EQ(toWideString("caf\xE9 au lait"), L"");
    debugLog("%s", std::string(400, 'a').c_str());
    EXPECT_EQ(newLogText(), std::string(255, 'a'));
    // A cut never splits a character of a UTF-8 path: the whole character goes.
    debugLog("%s", (std::string(254, 'a') + "\xD0\x96").c_str());
    EXPECT_EQ(newLogText(), std::string(254, 'a'));
    debugLog("%s", (std::string(252, 'a') + "\xE9\xA3\x9B" + "b").c_str());
    EXPECT_EQ(newLogText(), std::string(252, 'a') + "\xE9\xA3\x9B");
}

TEST(Settings, ASessionLeavesThePilotsLinesAndAFileTheFormatCannotWriteBackTakesTheStepInPlace) {
    testHost();
    const std::string path = (std::filesystem::temp_directory_path() / "cv_unit_settings_lines.ini").string();
    auto session = [&](const std::string& text, bool zoomStep, const std::string& logged = "",
                       const std::function<void()>& alsoChange = {}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        settingsIni.Reset();
        settingsIni.SetUnicode(false);  // as a fresh module's document
        newLogText();
        loadSettingsFrom(path);
        if (zoomStep) {
            zoomLevel = 0.55f;
            storeZoomLevel();
        }
        if (alsoChange) alsoChange();
        saveSettingsTo(path);
        EXPECT_EQ(newLogText(), logged);
        return slurp(path);
    };
    // A file the format can write back whole is written as the format writes it (here, with
    // its two blank lines between sections).
    EXPECT_EQ(session("[General]\nzoomLevel = 0.500000\n\n[Other]\nkeep = me\n", true),
              "[General]\nzoomLevel = 0.550000\n\n\n[Other]\nkeep = me\n");
    // The format would drop the comment at the end and the line without '=', and respell
    // "keep=me": the step goes into the pilot's text instead.
    const std::string pilots = "[General]\nzoomLevel=1.25\nnotes without an equals sign\n[Other]\nkeep=me\n;WebURL = x";
    EXPECT_EQ(session(pilots, true),
              "[General]\nzoomLevel=0.550000\nnotes without an equals sign\n[Other]\nkeep=me\n;WebURL = x");
    // With nothing changed, not a byte moves, not even where the format would respell.
    EXPECT_EQ(session(pilots, false), pilots);
    // A value stepped back to the text it was read as is no change either.
    EXPECT_EQ(session("[General]\nzoomLevel = 0.550000\nkeep=me\n", true),
              "[General]\nzoomLevel = 0.550000\nkeep=me\n");

    // Each key the session changed goes into the pilot's text, a new one after the section's
    // last entry; the others keep theirs.
    EXPECT_EQ(session(pilots, true, "",
                      [] {
                          panelBrightness = 0.3f;
                          storePanelBrightness();
                          storeSetting(panelModeKey, "popout");
                      }),
              "[General]\nzoomLevel=0.550000\nPanelBrightness = 0.300000\nPanelMode = popout\nnotes without an "
              "equals sign\n[Other]\nkeep=me\n;WebURL = x");

    // A header missing its "]" files the keys below it under a name running on into the next
    // line, which the format cannot write back; the pilot's lines stay and the step is added.
    const std::string typo = "[General\nzoomLevel = 1.25\nrefreshWebPageSecs = 30\n[Other]\nkeep = me\n";
    EXPECT_EQ(session(typo, true), typo + "\n[General]\nzoomLevel = 0.550000\n");
    // The reader never saw the section after the NUL byte, and the step has nowhere to go.
    const std::string afterNul("[General]\0zoomLevel = 1\n", 24);
    EXPECT_EQ(session(afterNul, true,
                      "CV: could not save the settings to " + path +
                          " (the file holds a NUL byte on the line after which a setting would be written); the file "
                          "on disk is as it was\n"),
              afterNul);
    std::filesystem::remove(path);
}

TEST(Settings, TheTemporaryFileIsMadeAfreshALinkIsWrittenThroughAndAReadOnlyFileIsKept) {
    testHost();
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("cv_unit_replace_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder / "elsewhere");
    const std::string path = (folder / "cv_settings.ini").string();
    const std::string temporary = path + ".tmp";
    std::string error;

    // Left under the temporary name: a link to another file, a FIFO (opening it for writing
    // would wait for a reader for ever). Each is replaced, and what it led to is untouched.
    const fs::path other = folder / "elsewhere" / "other.txt";
    std::ofstream(other) << "not ours";
    fs::create_symlink(other, temporary);
    EXPECT_EQ(replaceFileAtomically(path, "two", error), FileReplace::done) << error;
    ASSERT_EQ(slurp(other), "not ours");  // else opening the FIFO below would wait for ever
    ASSERT_EQ(::mkfifo(temporary.c_str(), 0600), 0);
    EXPECT_EQ(replaceFileAtomically(path, "three", error), FileReplace::done) << error;
    EXPECT_EQ(slurp(path), "three");
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
    // A folder there cannot be taken away: the save fails, the file stays.
    fs::create_directory(temporary);
    EXPECT_EQ(replaceFileAtomically(path, "four", error), FileReplace::failed);
    EXPECT_EQ(slurp(path), "three");
    fs::remove(temporary);

    // The pilot keeps the settings elsewhere and links to them: the link stays a link.
    const fs::path kept = folder / "elsewhere" / "kept.ini";
    fs::rename(path, kept);
    fs::create_symlink(kept, path);
    EXPECT_EQ(replaceFileAtomically(path, "five", error), FileReplace::done) << error;
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(slurp(kept.string()), "five");

    // Read-only (for root too, whom permissions do not stop), through the link as well.
    fs::permissions(kept, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(replaceFileAtomically(path, "six", error), FileReplace::readOnly);
    EXPECT_EQ(slurp(kept.string()), "five");
    std::ofstream(folder / "plain.ini") << "seven";
    fs::permissions(folder / "plain.ini", fs::perms::owner_read);
    EXPECT_EQ(replaceFileAtomically((folder / "plain.ini").string(), "eight", error), FileReplace::readOnly);
    EXPECT_EQ(slurp((folder / "plain.ini").string()), "seven");
    fs::remove_all(folder);
}

}  // namespace
