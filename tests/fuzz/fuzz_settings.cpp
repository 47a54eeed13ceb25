// A settings file with any bytes in it, read as at start-up and written back as at shutdown:
// with nothing changed, the file keeps every byte; with a zoom step recorded, it keeps every
// non-blank line it held, in order, byte for byte, except the line the zoom is read from
// (added, with its section if need be, when there was none), and read again it gives the
// recorded zoom to the six decimals it is written with, and every other setting and entry
// as before. A file whose setting cannot be placed (a NUL byte on the line it would follow) is
// left as it was, with its one log line.
#include <strings.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "fuzz_check.h"
#include "plugin/settings.h"
#include "xplm_standin.h"

namespace {

namespace fs = std::filesystem;

// The file lives in memory where the system offers it (the save flushes it to the disk, which
// costs milliseconds on a real one), in a folder of this process's own.
struct Folder {
    fs::path path;
    Folder() {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "cv_fuzz_settings_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

struct Settings {
    float zoom;
    int refresh;
    std::wstring url;
    // section, key, value, in the order they were read, the zoom's own entry left out
    std::vector<std::tuple<std::string, std::string, std::string>> document;
};

// As a freshly loaded module reads its file: a new document and the start values.
Settings load(const std::string& path) {
    settingsIni.Reset();
    settingsIni.SetUnicode(false);
    zoomLevel = 0.5f;
    refreshWebPageSecs = 60;
    webUrl = defaultWebUrlWide;
    loadSettingsFrom(path);
    FUZZ_CHECK(takeLoggedText().empty(), "a file that could be read was reported as unreadable");

    Settings s{zoomLevel, refreshWebPageSecs, webUrl, {}};
    CSimpleIniA::TNamesDepend sections;
    settingsIni.GetAllSections(sections);
    sections.sort(CSimpleIniA::Entry::LoadOrder());
    for (const auto& section : sections) {
        CSimpleIniA::TNamesDepend keys;
        settingsIni.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniA::Entry::LoadOrder());
        bool empty = true;
        for (const auto& key : keys) {
            if (::strcasecmp(section.pItem, "General") == 0 && ::strcasecmp(key.pItem, "zoomLevel") == 0) continue;
            s.document.emplace_back(section.pItem, key.pItem, settingsIni.GetValue(section.pItem, key.pItem, ""));
            empty = false;
        }
        // A section without keys is kept, but the one before the first header ("", as "[]"
        // names it too) has nothing to show for itself in the file, and [General] is the
        // zoom's, which may have to add it.
        if (empty && *section.pItem != '\0' && ::strcasecmp(section.pItem, "General") != 0)
            s.document.emplace_back(section.pItem, "", "");
    }
    return s;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The non-blank lines, as the reader splits them ("\r\n", "\n" or "\r" ends one), each with
// its line end.
std::vector<std::string> nonBlankLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find_first_of("\r\n", begin);
        end = end == std::string::npos ? text.size() : end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        const std::string line = text.substr(begin, end - begin);
        if (line.find_first_not_of(" \t\r\n") != std::string::npos) lines.push_back(line);
        begin = end;
    }
    return lines;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// "key = value" with this value, whatever the spelling around '=' (and whatever follows a NUL
// byte, where the reader stops).
bool holdsValue(std::string_view line, std::string_view value) {
    line = line.substr(0, line.find('\0'));
    const std::size_t equals = line.find('=');
    return equals != std::string_view::npos && trimmed(line.substr(equals + 1)) == value;
}

// The saved file against the one read: the same UTF-8 signature, if any, and the same
// non-blank lines but for the zoom's.
void expectOnlyTheZoomLineChanged(const std::string& before, const std::string& after, const std::string& zoom) {
    const std::string signature = "\xEF\xBB\xBF";
    const bool signed_ = before.rfind(signature, 0) == 0;
    FUZZ_CHECK(signed_ == (after.rfind(signature, 0) == 0), "the UTF-8 signature came or went");
    const std::size_t skip = signed_ ? signature.size() : 0;
    const std::vector<std::string> a = nonBlankLines(before.substr(skip)), b = nonBlankLines(after.substr(skip));
    // A line added after the last one gives it the line end it lacked; its bytes stay.
    auto same = [&](std::size_t i, std::size_t j) {
        if (a[i] == b[j]) return true;
        const bool lastUnended = i + 1 == a.size() && a[i].find_first_of("\r\n") == std::string::npos;
        return lastUnended && b[j].size() > a[i].size() && b[j].compare(0, a[i].size(), a[i]) == 0 &&
               trimmed(std::string_view(b[j]).substr(a[i].size())).empty();
    };
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && same(head, head)) ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && same(a.size() - 1 - tail, b.size() - 1 - tail)) ++tail;
    const std::size_t lost = a.size() - head - tail, added = b.size() - head - tail;
    if (lost == 1) {
        // The zoom's own line: the same up to '=', the new value after it.
        FUZZ_CHECK(added == 1, "a line other than the zoom's changed");
        const std::string& was = a[head];
        const std::string& now = b[head];
        FUZZ_CHECK(was.find('=') != std::string::npos &&
                       now.compare(0, was.find('=') + 1, was, 0, was.find('=') + 1) == 0,
                   "the zoom's line changed before its '='");
        FUZZ_CHECK(holdsValue(now, zoom), "the zoom's line does not hold the recorded zoom");
        return;
    }
    FUZZ_CHECK(lost == 0, "a line the pilot wrote was lost");
    FUZZ_CHECK(added == 1 || added == 2, "lines other than the zoom's were added");
    FUZZ_CHECK(trimmed(b[head + added - 1]).rfind("zoomLevel", 0) == 0 && holdsValue(b[head + added - 1], zoom),
               "the added line is not the zoom's");
    if (added == 2) FUZZ_CHECK(trimmed(b[head]) == "[General]", "a line other than the zoom's section was added");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    static const std::string path = (folder.path / "cv_settings.ini").string();
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input;

    const Settings first = load(path);
    saveSettingsTo(path);
    FUZZ_CHECK(takeLoggedText().empty(), "a save with nothing changed was reported");
    FUZZ_CHECK(contents(path) == input, "a save with nothing changed moved a byte");

    // A zoom step records zoomLevel as "%f" text; the same text as was read is no change.
    const char* read = settingsIni.GetValue("General", "zoomLevel", nullptr);
    const std::string zoomRead = read != nullptr ? read : "";
    const bool hadZoom = read != nullptr;
    storeZoomLevel();
    const std::string zoom = settingsIni.GetValue("General", "zoomLevel", "");
    saveSettingsTo(path);
    const std::string log = takeLoggedText();
    const std::string saved = contents(path);
    if (!log.empty()) {
        FUZZ_CHECK(log.find("a NUL byte on the line after which a setting would be written") != std::string::npos &&
                       input.find('\0') != std::string::npos,
                   "the settings could not be saved");
        FUZZ_CHECK(saved == input, "a save that was given up changed the file");
        return 0;
    }
    if (hadZoom && zoomRead == zoom) {
        FUZZ_CHECK(saved == input, "a zoom step that changed nothing moved a byte");
        return 0;
    }
    expectOnlyTheZoomLineChanged(input, saved, zoom);

    // Read back, it is the same zoom to 6 decimals (exactly the same where the float has no
    // fraction beyond them), and nothing else moves.
    const Settings second = load(path);
    if (std::isnan(first.zoom)) {
        FUZZ_CHECK(std::isnan(second.zoom), "a NaN zoom did not read back as NaN");
    } else if (std::isinf(first.zoom)) {
        FUZZ_CHECK(second.zoom == first.zoom, "an infinite zoom did not read back as itself");
    } else {
        const double error = std::fabs(static_cast<double>(second.zoom) - first.zoom);
        FUZZ_CHECK(error <= 5e-7 + std::fabs(first.zoom) * 0x1p-24, "the recorded zoom read back as another");
    }
    FUZZ_CHECK(second.refresh == first.refresh && second.url == first.url, "a zoom step changed another setting");
    FUZZ_CHECK(second.document == first.document, "a zoom step changed another entry");
    return 0;
}
