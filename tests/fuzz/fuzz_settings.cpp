// A settings file with any bytes in it, read as at start-up, written back as at shutdown and
// read again as at the next start: the second reading gives the same three settings and the
// same document (every section, key and value) as the first. Then a zoom step recorded on
// top reads back as the zoom it recorded, to the six decimals it is written with.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_check.h"
#include "plugin/settings.h"
#include "xplm_standin.h"

namespace {

namespace fs = std::filesystem;

// The file lives in memory where the system offers it (the save flushes it to the disk, which
// costs milliseconds on a real one), in a folder of this process's own.
class Folder {
public:
    Folder()
    {
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "cv_fuzz_settings_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const char* name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

struct Settings {
    float zoom;
    int refresh;
    std::wstring url;
    // section, key, value, in the order they were read
    std::vector<std::tuple<std::string, std::string, std::string>> document;
};

// As a freshly loaded module reads its file: a new document and the start values.
Settings load(const std::string& path)
{
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
        for (const auto& key : keys)
            s.document.emplace_back(section.pItem, key.pItem, settingsIni.GetValue(section.pItem, key.pItem, ""));
        // A section without keys is kept, but the one before the first header ("", as
        // "[]" names it too) has nothing to show for itself in the file.
        if (keys.empty() && *section.pItem != '\0') s.document.emplace_back(section.pItem, "", "");
    }
    return s;
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A document the file format cannot hold is not saved, and the file is then left exactly as
// it was; anything else that keeps the file is a fault.
void save(const std::string& path)
{
    const std::string before = contents(path);
    saveSettingsTo(path);
    const std::string log = takeLoggedText();
    if (log.empty()) return;
    FUZZ_CHECK(log.find("a line the settings format cannot write back") != std::string::npos,
               "the settings could not be saved");
    FUZZ_CHECK(contents(path) == before, "a save that was given up changed the file");
}

bool sameFloat(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Folder folder;
    static const std::string path = folder.file("cv_settings.ini");
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));

    const Settings first = load(path);
    save(path);
    const Settings second = load(path);
    FUZZ_CHECK(sameFloat(first.zoom, second.zoom), "zoomLevel changed through a save");
    FUZZ_CHECK(first.refresh == second.refresh, "refreshWebPageSecs changed through a save");
    FUZZ_CHECK(first.url == second.url, "WebURL changed through a save");
    FUZZ_CHECK(first.document == second.document, "the document changed through a save");

    // A zoom step records zoomLevel as "%f" text; read back, it is the same zoom to 6 decimals
    // (exactly the same where the float has no fraction beyond them), and nothing else moves.
    storeZoomLevel();
    save(path);
    const Settings third = load(path);
    if (std::isnan(first.zoom)) {
        FUZZ_CHECK(std::isnan(third.zoom), "a NaN zoom did not read back as NaN");
    } else if (std::isinf(first.zoom)) {
        FUZZ_CHECK(third.zoom == first.zoom, "an infinite zoom did not read back as itself");
    } else {
        const double error = std::fabs(static_cast<double>(third.zoom) - first.zoom);
        FUZZ_CHECK(error <= 5e-7 + std::fabs(first.zoom) * 0x1p-24, "the recorded zoom read back as another");
    }
    FUZZ_CHECK(third.refresh == first.refresh && third.url == first.url, "a zoom step changed another setting");
    return 0;
}
