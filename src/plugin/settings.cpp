#include "plugin/settings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <new>
#include <optional>
#include <tuple>
#include <vector>

#include "plugin/log.h"
#include "plugin/paths.h"
#include "plugin/settings_file.h"
#include "plugin/settings_text.h"
#include "plugin/text_encoding.h"

namespace {

constexpr char settingsSection[] = "General";
constexpr char zoomKey[] = "zoomLevel";
constexpr char brightnessKey[] = "PanelBrightness";
constexpr char settingsFileName[] = "cv_settings.ini";
// The keys a session changes (a zoom or brightness step, the panel's place at stop): only
// these are ever written, and only when their value differs from what the file held.
constexpr std::array<const char*, 11> sessionKeys{zoomKey,      brightnessKey,  panelModeKey,   panelLeftKey,
                                                  panelTopKey,  panelRightKey,  panelBottomKey, popOutLeftKey,
                                                  popOutTopKey, popOutRightKey, popOutBottomKey};

// Set when the settings file exists but could not be read, or was not read on purpose. The
// document then lacks what the file holds, and saving it would wipe the pilot's settings, so
// the file is left as it is.
bool keepSettingsFile = false;
// Why it could not be read, for the line at the save; empty for a file not read on purpose,
// whose line at the start said all.
std::string settingsReadError;
// The file as read at start-up: the save changes only what the session changed in it.
bool settingsFileExisted = false;
std::string settingsTextRead;
// Each session key's text as the file held it; a key the file lacks is not here.
std::map<std::string, std::string, std::less<>> sessionTextRead;
// The session keys whose value in the document differs from the file's.
std::vector<std::string> changedSessionKeys() {
    std::vector<std::string> changed;
    for (const char* key : sessionKeys) {
        const char* value = settingsIni.GetValue(settingsSection, key, nullptr);
        const auto read = sessionTextRead.find(key);
        if (value != nullptr && (read == sessionTextRead.end() || read->second != value)) changed.push_back(key);
    }
    return changed;
}

// atof's result truncated toward zero; values beyond int (and NaN) are pinned instead of
// being converted with undefined behaviour.
int truncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// Every section, key and value of a document, in the order they were read. A section before
// the first header without keys of its own ("[]" names it too) is left out: the file has no
// way to show it, and nothing is lost with it.
using Entries = std::vector<std::tuple<std::string, std::string, std::string>>;

Entries entriesOf(const CSimpleIniA& document) {
    Entries entries;
    CSimpleIniA::TNamesDepend sections;
    document.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& section : sections) {
        CSimpleIniA::TNamesDepend keys;
        document.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniA::Entry::LoadOrder());
        if (keys.empty() && *section.pItem != '\0') entries.emplace_back(section.pItem, "", "");
        for (const auto& key : keys)
            entries.emplace_back(section.pItem, key.pItem, document.GetValue(section.pItem, key.pItem, ""));
    }
    return entries;
}

// Some lines come back from the INI text other than they went in: a section header without
// its "]" makes the library file the keys below it under a name that runs on into the next
// line, and such a name, written out, reads back as yet another one; each save would add a
// line to the pilot's file. Text that does not read back as the document it came from is
// therefore never saved.
bool readsBackTheSame(const std::string& text) {
    CSimpleIniA check;
    return check.LoadData(text) >= 0 && entriesOf(check) == entriesOf(settingsIni);
}

bool sameWord(const char* text, const char* word) {
    for (; *text != '\0' && *word != '\0'; ++text, ++word)
        if (std::tolower(static_cast<unsigned char>(*text)) != *word) return false;
    return *text == *word;
}

// Anything but "clicks" means the full panel; a value that is neither is told once.
PanelInput panelInputFrom(const char* value) {
    if (sameWord(value, "clicks")) return PanelInput::Clicks;
    if (!sameWord(value, "full")) debugLog("CV: PanelInput \"%s\" is neither full nor clicks; using full.\n", value);
    return PanelInput::Full;
}

// A brightness outside 0.1 to 1.0 is taken to the nearer end; one that is no number is full
// (never a panel dimmed to near black by a typing error).
float brightnessFrom(const char* value) {
    char* end = nullptr;
    const double read = std::strtod(value, &end);
    if (end == value || std::isnan(read)) return maxPanelBrightness;
    return static_cast<float>(
        std::clamp(read, static_cast<double>(minPanelBrightness), static_cast<double>(maxPanelBrightness)));
}

PanelColorScheme colorSchemeFrom(const char* value) {
    if (sameWord(value, "dark")) return PanelColorScheme::Dark;
    if (sameWord(value, "auto")) return PanelColorScheme::Auto;
    if (!sameWord(value, "light"))
        debugLog("CV: PanelColorScheme \"%s\" is none of light, dark and auto; using light.\n", value);
    return PanelColorScheme::Light;
}

PanelWheel panelWheelFrom(const char* value) {
    if (sameWord(value, "scroll")) return PanelWheel::Scroll;
    if (!sameWord(value, "zoom")) debugLog("CV: PanelWheel \"%s\" is neither zoom nor scroll; using zoom.\n", value);
    return PanelWheel::Zoom;
}

// Anything but "snapshots" means live frames; a value that is neither is told once.
FrameSource frameSourceFrom(const char* value) {
    if (sameWord(value, "snapshots")) return FrameSource::Snapshots;
    if (!sameWord(value, "live"))
        debugLog("CV: FrameSource \"%s\" is neither live nor snapshots; using live.\n", value);
    return FrameSource::Live;
}

}  // namespace

std::string getSettingsPath() { return getPluginFolder() + settingsFileName; }

std::wstring toWideString(const char* text) {
    if (text == nullptr) return std::wstring();
#if defined(_WIN32)
    return fromAnsiCodePage(text);
#else
    // A malformed address fails whole, as a failed conversion does on Windows.
    return toWideStrictly(text).value_or(std::wstring());
#endif
}

void loadSettings() { loadSettingsFrom(getSettingsPath()); }

void loadSettingsFrom(const std::string& path) {
    keepSettingsFile = false;
    settingsReadError.clear();
    settingsTextRead.clear();
    sessionTextRead.clear();
    std::string error;
    const FileRead read = readWholeFile(path, settingsTextRead, error);
    settingsFileExisted = read == FileRead::done;
    if (read == FileRead::refused) {
        logLine("CV: " + path + " is " + error +
                ", so it is not read: the settings are the defaults, and the file is kept as it was\n");
        keepSettingsFile = true;
        return;
    }
    SI_Error loaded = SI_FILE;
    if (read == FileRead::done) {
        try {
            loaded = settingsIni.LoadData(settingsTextRead);
            for (const char* key : sessionKeys)
                if (const char* value = settingsIni.GetValue(settingsSection, key, nullptr))
                    sessionTextRead[key] = value;
        } catch (const std::bad_alloc&) {
            loaded = SI_NOMEM;
        }
        if (loaded < 0) error = loaded == SI_NOMEM ? "out of memory" : "the text could not be parsed";
    }
    if (loaded < 0) {
        debugLog("Error loading INI from %s. Reverting to defaults..\n", path.c_str());
        if (read != FileRead::missing) {
            keepSettingsFile = true;
            settingsReadError = error;
        }
        return;
    }
    zoomLevel = static_cast<float>(std::atof(settingsIni.GetValue(settingsSection, zoomKey, "0.5")));
    refreshWebPageSecs = truncateToInt(std::atof(settingsIni.GetValue(settingsSection, "refreshWebPageSecs", "60")));
    webUrl = toWideString(settingsIni.GetValue(settingsSection, "WebURL", defaultWebUrl));
    panelInput = panelInputFrom(settingsIni.GetValue(settingsSection, "PanelInput", "full"));
    frameSource = frameSourceFrom(settingsIni.GetValue(settingsSection, "FrameSource", "live"));
    panelBrightness = brightnessFrom(settingsIni.GetValue(settingsSection, brightnessKey, "1.0"));
    panelColorScheme = colorSchemeFrom(settingsIni.GetValue(settingsSection, "PanelColorScheme", "light"));
    panelWheel = panelWheelFrom(settingsIni.GetValue(settingsSection, "PanelWheel", "zoom"));
}

namespace {

std::string decimalText(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return text;
}

}  // namespace

// The zoom keeps the empty comment it was always stored with (a blank line before the key
// when the format writes the file); the keys added since carry none.
void storeZoomLevel() { settingsIni.SetValue(settingsSection, zoomKey, decimalText(zoomLevel).c_str(), "", true); }
void storePanelBrightness() { storeSetting(brightnessKey, panelBrightness); }

void storeSetting(const char* key, float value) { storeSetting(key, decimalText(value).c_str()); }

void storeSetting(const char* key, int value) { storeSetting(key, std::to_string(value).c_str()); }

void storeSetting(const char* key, const char* value) {
    settingsIni.SetValue(settingsSection, key, value, nullptr, true);
}

const char* storedSetting(const char* key) { return settingsIni.GetValue(settingsSection, key, nullptr); }

void saveSettings() { saveSettingsTo(getSettingsPath()); }

void saveSettingsTo(const std::string& path) {
    if (keepSettingsFile) {
        if (!settingsReadError.empty())
            logLine("CV: " + path + " could not be read at start-up (" + settingsReadError +
                    "), so it is kept as it was and the settings are not saved\n");
        return;
    }
    const std::vector<std::string> changed = changedSessionKeys();
    // Nothing to change: the pilot's file keeps every byte. A first run without one still
    // leaves the (empty) document behind.
    if (changed.empty() && settingsFileExisted) return;

    std::string text;
    SI_Error saved = SI_FAIL;
    bool placed = true;
    bool readsBack = false;
    try {
        // As SaveFile by default: a file read with a UTF-8 byte-order mark is written with one.
        saved = settingsIni.Save(text, true);
        if (saved >= 0 && !changed.empty()) {
            // The format's own text drops what it does not keep (a comment after the last key,
            // a line without '=', a key given twice, what follows a NUL byte) and rewrites
            // the rest in its own spelling; unless it keeps every line the pilot wrote, the
            // changes go into the pilot's own text instead.
            std::optional<std::string> edited = settingsTextRead;
            for (const std::string& key : changed) {
                if (!edited) break;
                edited = settingstext::withValue(*edited, settingsSection, key.c_str(),
                                                 settingsIni.GetValue(settingsSection, key.c_str(), ""), SI_NEWLINE_A);
            }
            placed = edited.has_value();
            if (placed && !settingstext::sameNonBlankLines(text, *edited)) text = *edited;
        }
        readsBack = saved >= 0 && placed && readsBackTheSame(text);
    } catch (const std::bad_alloc&) {
        saved = SI_NOMEM;
    }
    std::string error;
    if (saved < 0) {
        error = saved == SI_NOMEM ? "out of memory" : "the settings could not be formatted";
    } else if (!placed) {
        error = "the file holds a NUL byte on the line after which a setting would be written";
    } else if (!readsBack) {
        error = "the file holds a line the settings format cannot write back, such as a section header "
                "without its ']'";
    } else {
        switch (replaceFileAtomically(path, text, error)) {
        case FileReplace::done: return;
        case FileReplace::readOnly:
            logLine("CV: " + path + " is read-only, so it is kept as it was and the settings are not saved\n");
            return;
        case FileReplace::failed: break;
        }
    }
    logLine("CV: could not save the settings to " + path + " (" + error + "); the file on disk is as it was\n");
}
