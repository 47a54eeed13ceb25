// The real Windows module, loaded into the Windows build of the stand-in simulator in this
// process, with the stand-in WebView2Loader.dll beside it. Each run lays out its own
// plugin folder, runs a script of simulator and pilot actions, and reads back the
// simulator's log and the stand-in browser's record of every call the plugin made.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "evergreen_install.h"
#include "host.h"
#include "panel/dialog_picture.h"
#include "platform/xplm.h"
#include "plugin/settings.h"
#include "plugin/text_encoding.h"
#include "snapshot_pattern.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The build folder: this test sits at its top, beside xpsim's XPLM_64.dll.
std::string buildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().string() + "\\";
}

int countOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
    return count;
}

// `piece` is in `text` exactly once.
::testing::AssertionResult once(const std::string& text, const std::string& piece) {
    const int count = countOf(text, piece);
    if (count == 1) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " times: " << piece << "\n" << text;
}

Lines linesStartingWith(const Lines& lines, const std::string& prefix) {
    Lines found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

// True when `expected` appear in `lines` in this order (other lines may come between); with
// `prefixes`, lines that start with each of them.
bool inOrder(const Lines& lines, const Lines& expected, bool prefixes = false) {
    std::size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && (prefixes ? line.rfind(expected[next], 0) == 0 : line == expected[next])) ++next;
    return next == expected.size();
}

Lines readLines(const std::string& path) {
    std::ifstream in(path);
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Outcome {
    bool started = false;  // the plugin was loaded and started
    std::string log;       // the simulator's log, through the final unload
    Lines record;          // the stand-in browser's record, line by line
    std::string recordText;
};

const std::string kHiddenParent =
    "create-controller parent-class=WebView2HiddenForXPlane parent-title=HiddenWebView2 parent-size=768x512 "
    "parent-visible=0 apartment=sta";
const std::string kSnapshotsOnly = "[General]\r\nFrameSource = snapshots\r\n";
const std::string kCleanUnload = "unload live=0 hidden-windows=0 apartment=none";
const std::string kKeptLoaded =
    "CV: WebView2 still holds 1 of our completion handler(s) after 1 s; the plugin stays in "
    "memory until the simulator quits, so a late call is safely ignored.\n";
const std::string kStaysMapped = "stays mapped after unload";

class WindowsModule : public ::testing::Test {
protected:
    // Process ids repeat under Wine, so a folder of an earlier run may be found again.
    void SetUp() override {
        root_ = (fs::temp_directory_path() / ("cv-windows-" + std::to_string(GetCurrentProcessId()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                    .string() +
                "\\";
        folder_ = root_ + "Corvane_Toolbar\\win_x64\\";
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        fs::create_directories(folder_);
        fs::copy_file(buildFolder() + "Corvane_Toolbar\\win_x64\\Corvane_Toolbar.xpl", folder_ + "Corvane_Toolbar.xpl");
        fs::copy_file(buildFolder() + "tools\\webview2_loader\\WebView2Loader.dll", folder_ + "WebView2Loader.dll");
        // No installed runtime but the one a test installs (the Wine tests take turns).
        evergreen::unregisterRuntimes();
        // One runtime for the whole process, outside the plugin's folder, as the real one is.
        SetEnvironmentVariableA("CV_WEBVIEW2_RUNTIME",
                                (buildFolder() + "tools\\webview2_loader\\WebView2StandInRuntime.dll").c_str());
        options_.paced = false;
        options_.fps = 30;
        options_.screenTop = 1024;
        options_.screenRight = 1280;
    }

    void TearDown() override {
        for (const char* name :
             {"CV_WEBVIEW2_RECORD", "CV_WEBVIEW2_CUES", "CV_WEBVIEW2_SNAPSHOT_SIZE", "CV_WEBVIEW2_RUNTIME",
              "CV_WEBVIEW2_TEXT_FIELD", "CV_WEBVIEW2_PERMISSIONS", "CV_WEBVIEW2_NEW_WINDOW"})
            SetEnvironmentVariableA(name, nullptr);
        evergreen::unregisterRuntimes();
        std::error_code ignored;
        // A failure's folder is kept for a look, with each run's log and browser record.
        if (!HasFailure()) fs::remove_all(root_, ignored);
    }

    // Loads the module with a fresh log and record, runs the script, lets `inspect` look at the
    // running host, then unloads the module the way X-Plane does at exit.
    Outcome run(const std::string& script, const std::function<void(xpsim::Host&)>& inspect = {}) {
        const std::string number = std::to_string(++runs_);
        record_ = root_ + "record-" + number + ".txt";
        SetEnvironmentVariableA("CV_WEBVIEW2_RECORD", record_.c_str());
        options_.logFile = root_ + "log-" + number + ".txt";
        Outcome outcome;
        xpsim::Host host(options_);
        std::string error;
        EXPECT_TRUE(host.load(folder_ + "Corvane_Toolbar.xpl", error)) << error;
        outcome.started = host.pluginLoaded();
        EXPECT_TRUE(host.run(script, error)) << error;
        if (inspect) inspect(host);
        EXPECT_TRUE(host.run("quit", error)) << error;
        settleRuntime();
        outcome.log = host.log();
        // No rule of the host broken: no null callback slot, no XPLM call off the main thread,
        // no GL error left behind, no exception escaping, nothing left registered.
        EXPECT_EQ(outcome.log.find("xpsim: error:"), std::string::npos) << outcome.log;
        EXPECT_EQ(outcome.log.find("leak:"), std::string::npos) << outcome.log;
        outcome.record = readLines(record_);
        // Unless the runtime still holds a handler of ours, stop took our handlers off the view,
        // released every browser object, destroyed the hidden window and left COM before the
        // loader went.
        EXPECT_TRUE(linesStartingWith(outcome.record, "view released with").empty());
        // Every handler added was removed with its token, from a closed view too (which refuses
        // that alone: nothing else is asked of a lost browser).
        const Lines closed = linesStartingWith(outcome.record, "closed ");
        EXPECT_EQ(linesStartingWith(closed, "closed remove_"), closed);
        EXPECT_EQ(linesStartingWith(outcome.record, "add ").size(),
                  linesStartingWith(outcome.record, "remove ").size() + closed.size());
        if (!outcome.record.empty() && outcome.log.find("CV: WebView2 still holds ") == std::string::npos) {
            EXPECT_EQ(outcome.record.back(), kCleanUnload);
        }
        for (const std::string& line : outcome.record) outcome.recordText += line + "\n";
        // Every wait the script made for the keyboard's focus or a log line was met, and each page
        // dialog's deferral was completed once, in time.
        EXPECT_EQ(outcome.log.find("wait-focus"), std::string::npos);
        EXPECT_EQ(outcome.log.find("wait-log"), std::string::npos);
        EXPECT_EQ(outcome.recordText.find("deferral "), std::string::npos);
        return outcome;
    }

    xpsim::Options options_;
    std::string root_, folder_;
    std::string record_;  // the current run's
    int runs_ = 0;

private:
    // What the stand-in runtime still owes a stopped plugin reaches it through the thread's
    // message queue, which a simulator goes on pumping after the plugin has gone; so does this,
    // for at most 5 s, until the runtime owes nothing more.
    static void settleRuntime() {
        for (const HMODULE runtime : standInRuntimes()) {
            const auto owed = reinterpret_cast<int(WINAPI*)()>(
                reinterpret_cast<void*>(GetProcAddress(runtime, "StandInOwedCompletions")));
            ASSERT_NE(owed, nullptr);
            const ULONGLONG giveUp = GetTickCount64() + 5000;
            while (owed() > 0 && GetTickCount64() < giveUp) {
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
                Sleep(10);
            }
            EXPECT_EQ(owed(), 0) << "the stand-in runtime still owes completions";
        }
    }

    // Every stand-in runtime loaded in this process: the stand-in loader's, and each installed
    // copy of the client library that is still loaded (one per install folder).
    static std::vector<HMODULE> standInRuntimes() {
        HMODULE modules[512];
        DWORD bytes = 0;
        std::vector<HMODULE> found;
        if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &bytes)) return found;
        for (DWORD i = 0; i < std::min<DWORD>(bytes, sizeof modules) / sizeof(HMODULE); ++i) {
            wchar_t name[MAX_PATH] = {};
            GetModuleBaseNameW(GetCurrentProcess(), modules[i], name, MAX_PATH);
            if (lstrcmpiW(name, L"WebView2StandInRuntime.dll") == 0 ||
                lstrcmpiW(name, L"EmbeddedBrowserWebView.dll") == 0)
                found.push_back(modules[i]);
        }
        return found;
    }
};

// The serial number of the stand-in's picture on the panel, which the tests place with its
// top-left corner at (100, 900), one desktop pixel per page pixel; -1 while the panel shows no
// picture of the page (none yet, or the browser's error page).
int pictureOnPanel(const xpsim::Host& host, int screenTop = 1024) {
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    if (!host.readDesktop(desktop, width, height)) return -1;
    auto is = [&](int pageX, int pageY, snapshot_pattern::Rgb colour) {
        const std::size_t at = (static_cast<std::size_t>(screenTop - 1 - (900 - pageY)) * width + 100 + pageX) * 4;
        return desktop.size() >= at + 3 && desktop[at] == colour.r && desktop[at + 1] == colour.g &&
               desktop[at + 2] == colour.b;
    };
    if (!is(8, 9, snapshot_pattern::kTopLeft)) return -1;
    int serial = 0;
    for (int bit = 0; bit < snapshot_pattern::kSerialBits; ++bit) {
        const int x = snapshot_pattern::serialBitX(bit);
        if (is(x, snapshot_pattern::kSerialY, snapshot_pattern::kOne))
            serial |= 1 << bit;
        else if (!is(x, snapshot_pattern::kSerialY, snapshot_pattern::kZero))
            return -1;
    }
    return serial;
}

// The serial of the last fresh picture the stand-in has served so far, from its record.
int lastPictureServed(const std::string& recordPath) {
    const Lines pictures = linesStartingWith(readLines(recordPath), "picture serial=");
    return pictures.empty() ? -1 : std::stoi(pictures.back().substr(15));
}

// Runs frames until `done`, for `seconds` of simulator time and as many of the wall clock at
// most; true when done. Frames run unpaced, so the simulator's clock runs ahead of the stand-in's
// timers, which follow the wall clock as a browser does.
bool runUntil(xpsim::Host& host, double seconds, const std::function<bool()>& done) {
    const double until = host.elapsedTime() + seconds;
    const ULONGLONG wallUntil = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (!done()) {
        if (host.elapsedTime() >= until && GetTickCount64() >= wallUntil) return false;
        host.runFrames(1);
    }
    return true;
}

// Runs `script` in the running host.
void play(xpsim::Host& host, const std::string& script) {
    std::string error;
    EXPECT_TRUE(host.run(script, error)) << error;
}

// Runs frames until the log has `text`, for at most `seconds` (as runUntil); true when it has.
bool runUntilLogged(xpsim::Host& host, const std::string& text, double seconds) {
    return runUntil(host, seconds, [&] { return host.log().find(text) != std::string::npos; });
}

std::string withSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string fileBytes(const fs::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

TEST_F(WindowsModule, BringsTheBrowserUpAfterStartTakesAZoomStepAndTearsItDownAtStop) {
    const Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    ASSERT_TRUE(run.started);
    // The browser's window is hidden: nothing of it on the pilot's desktop.
    EXPECT_TRUE(once(run.recordText, kHiddenParent));
    EXPECT_EQ(linesStartingWith(run.record, "navigate "), Lines{std::string("navigate ") + defaultWebUrl});
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (Lines{"zoom 0.500000", "zoom 0.550000"}));
    EXPECT_EQ(countOf(run.log, "CV: "), 0);
}

// Points one entry of a loaded module's import table at `replacement`, as a hooking library
// would, so that a test can make a system call fail for that module only. The entry goes
// with the module when it is unloaded.
bool replaceImport(HMODULE module, const char* dll, const char* function, const void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + table.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection))
                return false;
            slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

// The disk fills up while the settings are written: the first write to a file named
// cv_settings.ini* takes a few bytes, the next fails. Every other write goes through.
int settingsWrites = 0;
BOOL WINAPI writeUntilTheDiskIsFull(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    wchar_t name[MAX_PATH] = {};
    if (GetFinalPathNameByHandleW(file, name, MAX_PATH, 0) == 0 || std::wcsstr(name, L"cv_settings.ini") == nullptr)
        return WriteFile(file, data, size, written, overlapped);
    if (settingsWrites++ == 0) return WriteFile(file, data, std::min<DWORD>(size, 8), written, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The pilot's file is never lost: not when another program holds it at start, nor when the
// disk fills up during the save, nor when it is read-only. It is left byte for byte, with no
// temporary file beside it and one line in the log. A file held for a moment when the save
// replaces it (a virus scan) is waited for. A file too large to be settings is left alone.
TEST_F(WindowsModule, ASettingsFileThatCannotBeReadOrRewrittenIsLeftWhole) {
    const std::string settingsPath = folder_ + "cv_settings.ini";
    const std::string pilotsFile = "; mine\r\n[General]\r\nzoomLevel=1.25\r\n\r\n[Other]\r\nkeep=me\r\n";
    std::ofstream(settingsPath, std::ios::binary) << pilotsFile;
    const std::string zoomStep = "frames 5; command Corvane/IncreaseWebZoom";
    const auto keptWithOneLine = [&](const Outcome& run) {
        EXPECT_EQ(countOf(run.log, "CV: "), 1) << run.log;
        EXPECT_EQ(fileBytes(settingsPath), pilotsFile);
        EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));
    };

    // Held open without sharing while the simulator starts, and let go before it quits.
    HANDLE held =
        CreateFileA(settingsPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    keptWithOneLine(this->run(zoomStep, [&](xpsim::Host&) { CloseHandle(held); }));

    settingsWrites = 0;
    keptWithOneLine(this->run(zoomStep, [&](xpsim::Host&) {
        const HMODULE module = GetModuleHandleA((folder_ + "Corvane_Toolbar.xpl").c_str());
        ASSERT_TRUE(
            replaceImport(module, "kernel32.dll", "WriteFile", reinterpret_cast<const void*>(writeUntilTheDiskIsFull)));
    }));
    EXPECT_EQ(settingsWrites, 2);

    ASSERT_TRUE(SetFileAttributesA(settingsPath.c_str(), FILE_ATTRIBUTE_READONLY));
    const Outcome readOnly = this->run(zoomStep);
    ASSERT_TRUE(SetFileAttributesA(settingsPath.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(once(readOnly.log, " is read-only, so it is kept as it was and the settings are not saved\n"));
    keptWithOneLine(readOnly);

    // Held without leave to replace it while the simulator quits, and let go once the save has
    // written its temporary file and found the file held.
    const auto holdSettings = [&] {
        return CreateFileA(settingsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    std::thread letGo;
    const Outcome waited = this->run(zoomStep, [&](xpsim::Host&) {
        held = holdSettings();
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        letGo = std::thread([&] {
            for (int i = 0; i < 1000 && !fs::exists(settingsPath + ".tmp"); ++i) Sleep(5);
            Sleep(150);
            CloseHandle(held);
        });
    });
    letGo.join();
    EXPECT_EQ(countOf(waited.log, "CV: "), 0) << waited.log;
    const std::string saved = fileBytes(settingsPath);
    EXPECT_NE(saved.find("zoomLevel=1.300000"), std::string::npos);
    EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));

    // Held for longer than that: the save gives up, and the file is as it was.
    const Outcome gaveUp = this->run(zoomStep, [&](xpsim::Host&) { held = holdSettings(); });
    CloseHandle(held);
    EXPECT_TRUE(once(gaveUp.log, "(MoveFileExW failed: "));
    EXPECT_EQ(fileBytes(settingsPath), saved);
    EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));

    // 2 MiB is nobody's settings: not read, so the defaults apply, and not written over.
    std::string huge = "[General]\r\nzoomLevel=1.25\r\n";
    huge.resize(2 << 20, '\n');
    std::ofstream(settingsPath, std::ios::binary) << huge;
    const Outcome tooLarge = this->run(zoomStep);
    EXPECT_EQ(linesStartingWith(tooLarge.record, "zoom "), (Lines{"zoom 0.500000", "zoom 0.550000"}));
    EXPECT_TRUE(fileBytes(settingsPath) == huge) << "the file was changed";
}

// A pilot whose user folder is named in Cyrillic or Chinese: no ANSI code page spells such a
// path, so the plugin works with the simulator's native paths (UTF-8) and wide file calls. It
// finds its loader beside it, saves its zoom step there and reads it back at the next start.
TEST_F(WindowsModule, APluginFolderNamedInCyrillicAndChineseGetsItsSettingsAndItsLoader) {
    const std::wstring wideFolder =
        fs::path(root_).wstring() +
        L"\u041F\u043E\u043B\u0451\u0442 \u98DB\u884C\\Corvane_Toolbar\\win_x64\\";  // "Полёт 飛行"
    fs::create_directories(wideFolder);
    fs::copy_file(folder_ + "Corvane_Toolbar.xpl", fs::path(wideFolder + L"Corvane_Toolbar.xpl"));
    fs::copy_file(folder_ + "WebView2Loader.dll", fs::path(wideFolder + L"WebView2Loader.dll"));
    folder_ = toUtf8(wideFolder);  // the host takes UTF-8, as xpsim.exe's command line gives it

    Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 1u);
    EXPECT_NE(fileBytes(wideFolder + L"cv_settings.ini").find("zoomLevel = 0.550000"), std::string::npos);
    run = this->run("frames 5");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), Lines{"zoom 0.550000"});
}

TEST_F(WindowsModule, HoverDragAndLeaveGoThroughTheControllerAndTheKeyboardStaysWithTheSimulator) {
    // The window is the page's size at desktop (100, 900): page pixel (x, y) is at
    // (100 + x, 900 - y). Resting where it clicked, the pointer sends nothing more; moved, it
    // hovers; a press that moves ten boxels is a drag, with the left-button flag while held;
    // gone from the panel, the page hears it leave. With no text field on the page, a click
    // takes no keys.
    const std::string script =
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; click 500 500; frames 2; hover 520 480; "
        "frames 2; press 200 800; drag 210 800; frames 1; drag 260 800; frames 1; release 300 800; hover off; "
        "frames 2; key a; key space; rightclick 500 500";
    const Outcome run = this->run(script, [](xpsim::Host& host) {
        EXPECT_EQ(host.stateJson().find("\"keyboard_focus\":true"), std::string::npos);
    });
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=400 y=400", "mouse kind=0x202 keys=0 data=0 x=400 y=400",
                     "mouse kind=0x200 keys=0 data=0 x=420 y=420", "mouse kind=0x201 keys=1 data=0 x=100 y=100",
                     "mouse kind=0x200 keys=1 data=0 x=110 y=100", "mouse kind=0x200 keys=1 data=0 x=160 y=100",
                     "mouse kind=0x200 keys=1 data=0 x=200 y=100", "mouse kind=0x202 keys=0 data=0 x=200 y=100",
                     "mouse kind=0x2A3 keys=0 data=0 x=200 y=100"}));
    EXPECT_EQ(countOf(run.log, "goes to the simulator"), 2);
    EXPECT_EQ(run.log.find("callback\n"), std::string::npos);
}

// ---- Live frames ----

// True when the picture numbered `serial` went out as a screencast frame (not a snapshot).
bool servedAsFrame(const Lines& record, int serial) {
    const auto at = std::find(record.begin(), record.end(), "picture serial=" + std::to_string(serial));
    return at != record.end() && at + 1 != record.end() && at[1].rfind("screencast-frame ", 0) == 0;
}

// While the panel is shown its pictures are the screencast's frames: started at the pictures'
// size, each frame acknowledged, started again when a larger window raises the page scale (the
// rasterization scale grows, the layout's bounds do not), and stopped when the panel is hidden.
// A click lands on the larger picture where the pilot points. With FrameSource = snapshots
// there is no screencast at all.
TEST_F(WindowsModule, LiveFramesFillThePanelAtItsScaleUntilItIsHidden) {
    int shown = -1;
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388", [&](xpsim::Host& host) {
        EXPECT_TRUE(runUntil(host, 10, [&] {
            shown = pictureOnPanel(host);
            return shown >= 1 && servedAsFrame(readLines(record_), shown);
        }));
        play(host, "geometry 100 900 1252 132");
        // The larger frame is on the panel before the click aims at it.
        EXPECT_TRUE(runUntil(host, 10, [&] {
            const int on = pictureOnPanel(host);
            const Lines record = readLines(record_);
            const auto at = std::find(record.begin(), record.end(), "picture serial=" + std::to_string(on));
            return on > shown && servedAsFrame(record, on) && at[1].find(" 1152x768") != std::string::npos;
        }));
        play(host, "click 600 500; command Corvane/TogglePanel; wait 1");
    });
    const std::string start = "screencast-start format=jpeg quality=90 max=";
    EXPECT_TRUE(
        inOrder(run.record, {"bounds-mode 1", start + "768x512", "screencast-frame 1 768x512", "screencast-ack 1",
                             "rasterization-scale 1.500000", "screencast-stop", start + "1152x768"}));
    EXPECT_EQ(linesStartingWith(run.record, "bounds "), Lines{"bounds 0,0,768,512"});
    // The larger picture's pixel where the pilot clicked, one to one at this window's size.
    EXPECT_EQ(linesStartingWith(run.record, "mouse kind=0x201").front(), "mouse kind=0x201 keys=0 data=0 x=500 y=400");
    // Every frame was acknowledged, and none came after the hide's stop.
    EXPECT_EQ(linesStartingWith(run.record, "screencast-ack ").size(),
              linesStartingWith(run.record, "screencast-frame ").size());
    const auto lastStop = std::find(run.record.rbegin(), run.record.rend(), "screencast-stop");
    EXPECT_TRUE(linesStartingWith(Lines(run.record.rbegin(), lastStop), "screencast-").empty());
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;

    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly;
    const Outcome snapshots = this->run("command Corvane/TogglePanel; wait 2.2");
    EXPECT_TRUE(linesStartingWith(snapshots.record, "screencast-").empty());
    EXPECT_GE(linesStartingWith(snapshots.record, "capture requested").size(), 4u);
}

// A screencast the browser refuses, one that never sends a frame, and one the browser says the
// page is hidden from: each is one line, and snapshots twice a second fill the panel instead.
TEST_F(WindowsModule, AScreencastRefusedSilentOrHiddenGivesSnapshotsWithOneLine) {
    // Snapshots are answered on the wall clock: 2.2 s of it hold four of them.
    options_.paced = true;
    for (const auto& [cue, why] :
         {std::pair{"screencast-refused", "WebView2 refused to start it: 0x80004005"},
          {"screencast-silent", "the screencast sent no frame within 3 s"},
          {"screencast-hidden@2", "WebView2 says the page is not visible to its screencast"}}) {
        SCOPED_TRACE(cue);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", cue);
        std::size_t before = 0;
        int shown = -1;
        const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388", [&](xpsim::Host& host) {
            ASSERT_TRUE(runUntilLogged(host, "CV: no live frames", 10));
            before = linesStartingWith(readLines(record_), "capture requested").size();
            play(host, "wait 2.2");
            shown = pictureOnPanel(host);
        });
        EXPECT_TRUE(once(run.log, std::string("CV: no live frames from the browser (") + why + ")"));
        EXPECT_GE(linesStartingWith(run.record, "capture requested").size(), before + 4);
        EXPECT_GE(shown, 1);
        EXPECT_FALSE(servedAsFrame(run.record, shown));
    }
}

// A still page's screencast sends nothing, and neither would a hung browser's: every 30 s of
// quiet the browser is checked, and the check is answered without a picture.
TEST_F(WindowsModule, AStillPageIsCheckedEveryHalfMinuteNotPhotographed) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "screencast-still");
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << "[General]\r\nrefreshWebPageSecs = 0\r\n";
    std::size_t before = 0;
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388", [&](xpsim::Host& host) {
        ASSERT_TRUE(runUntil(host, 10, [&] {
            const Lines record = readLines(record_);
            before = linesStartingWith(record, "capture requested").size();
            return !linesStartingWith(record, "screencast-frame ").empty();
        }));
        play(host, "wait 65");
    });
    EXPECT_EQ(linesStartingWith(run.record, "screencast-frame ").size(), 1u);
    EXPECT_EQ(linesStartingWith(run.record, "capture requested").size(), before);
    EXPECT_EQ(linesStartingWith(run.record, R"(devtools Runtime.evaluate {"expression":"0"})").size(), 2u);
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
}

// The stand-in's page has a text field where the input page of the real-Chromium tests has
// one: page pixels (40, 40)-(444, 84), with the window at the page's size at desktop
// (100, 900), so desktop (340, 838) is on it and (220, 755) is on the plain button beside it.
class WindowsTyping : public WindowsModule {
protected:
    void SetUp() override {
        WindowsModule::SetUp();
        SetEnvironmentVariableA("CV_WEBVIEW2_TEXT_FIELD", "40,40,444,84");
    }
    static bool focusIn(xpsim::Host& host) {
        return host.stateJson().find("\"keyboard_focus\":true") != std::string::npos;
    }
    // Runs a piece of script in the running host; the focus afterwards.
    static bool focusAfter(xpsim::Host& host, const std::string& script) {
        play(host, script);
        return focusIn(host);
    }
    const std::string show_ = "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.5";
};

// The pilot's colour scheme, the wheel's scrolling and a step back reach WebView2: the first
// before the page loads, the wheel as a desktop mouse's, the step only with a page behind.
TEST_F(WindowsTyping, TheColourSchemeTheWheelsScrollAndABackStepReachWebView2) {
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary)
        << "[General]\r\nPanelColorScheme = dark\r\nPanelWheel = scroll\r\nrefreshWebPageSecs = 0\r\n";
    const Outcome run = this->run(show_ + "; wait 1; command Corvane/PageBack; command Corvane/ReloadPage; wait 0.5; "
                                          "command Corvane/PageBack; wheel 400 700 -2; wheel 400 700 1 horizontal; "
                                          "wait 0.5");
    EXPECT_TRUE(inOrder(run.record,
                        {"devtools Emulation.setEmulatedMedia "
                         "{\"features\":[{\"name\":\"prefers-color-scheme\",\"value\":\"dark\"}]}",
                         "navigate "},
                        true));
    EXPECT_TRUE(inOrder(run.record, {"navigate ", "navigate ", "go-back"}, true));
    EXPECT_EQ(linesStartingWith(run.record, "go-back"), (Lines{"go-back"})) << "nothing to go back to at first";
    // Desktop (400, 700) is page (300, 200); a notch is WHEEL_DELTA, towards the pilot negative.
    EXPECT_EQ(
        linesStartingWith(run.record, "mouse kind=0x20"),
        (Lines{"mouse kind=0x20A keys=0 data=4294967056 x=300 y=200", "mouse kind=0x20E keys=0 data=120 x=300 y=200"}));
}

// A browser that never answers the commands setting up the page's focus reports still gets its
// page, 5 s later, with one line; the held answers are the runtime's to drop after stop.
TEST_F(WindowsTyping, APageWhoseFocusReportsAreNeverSetUpIsLoadedAfterFiveSeconds) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "hold-devtools");
    const std::string line =
        "CV: WebView2 did not set up the page's focus reports in time; loading the page without them.\n";
    Lines early;
    const Outcome run = this->run(show_, [&](xpsim::Host& host) {
        play(host, "wait 4");
        early = readLines(record_);
        EXPECT_TRUE(runUntilLogged(host, line, 3));
    });
    EXPECT_TRUE(linesStartingWith(early, "navigate ").empty());
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 1u);
    EXPECT_TRUE(once(run.log, line));
}

// The keys come back to the simulator when the page that had them goes: its browser exits (a
// new one is brought up), or its page process crashes (the page is loaded again). Nothing is
// sent to a browser that is gone, and a new browser's page gets its focus reports again. Before
// that, the first page reports its focus both ways and gets the keys and text typed, through
// DevTools (how keys become DevTools input is the shared panel code's, tested on Linux).
TEST_F(WindowsTyping, TheKeyboardComesBackWhenTheBrowserOrItsPageIsLost) {
    const std::tuple<const char*, const char*, bool> faults[] = {
        {"browser-exit@6", "CV: WebView2's browser process exited", false},
        {"render-exit@6", "CV: WebView2's page process exited", true}};  // the page is loaded again
    for (const auto& [fault, line, lateReload] : faults) {
        SCOPED_TRACE(fault);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", fault);
        bool typing = false, afterFault = true, again = false;
        const Outcome run = this->run(show_, [&, line = std::string(line)](xpsim::Host& host) {
            // Enter submits the field and gives the keys back (each run checks the waits were met).
            typing =
                focusAfter(host, "click 340 838; wait-focus on 3; type KSEA \xE2\x86\x92 KPDX 1234; key backspace; "
                                 "key backspace; key enter; wait-focus off 3; click 340 838; wait-focus on 3; "
                                 "key shift+left");
            // Given back in the very frame the failure is told, Shift and all: not only once a
            // new page reports its focus, which comes late here as a real browser's does.
            SetEnvironmentVariableA("CV_WEBVIEW2_CUES", (std::string(fault) + ",slow-navigation=200").c_str());
            // Frames run unpaced: on a loaded machine the sixth snapshot can take many of them.
            EXPECT_TRUE(runUntilLogged(host, line, 20));
            afterFault = focusIn(host);
            // The fault comes back with every new browser: once is enough.
            SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
            // The page comes back on the stand-in's wall clock, which unpaced frames outrun: the
            // field is clicked until its focus report comes, for 10 s at most.
            again = runUntil(host, 10, [&] { return focusAfter(host, "click 340 838; frames 5"); });
            // The page's own reload, late under the cue, ends before the quit, or the stand-in
            // would answer it after the unload.
            if (lateReload) {
                EXPECT_TRUE(runUntil(host, 10, [&] {
                    return !linesStartingWith(readLines(record_), "navigation answered").empty();
                }));
            }
        });
        EXPECT_TRUE(typing);
        EXPECT_FALSE(afterFault);
        EXPECT_TRUE(again) << "the page that came back reports its focus too";
        EXPECT_NE(run.recordText.find("\nfield submitted text=KSEA \xE2\x86\x92 KPDX 12\n"), std::string::npos);
        EXPECT_EQ(run.recordText.find("closed CallDevToolsProtocolMethod"), std::string::npos);
    }
}

// A bring-up that fails is tried again from the environment request, 1 s later, then 2, 4,
// 8 s: one line per attempt. A runtime too old for windowless hosting is one line, and the
// plugin runs without a browser, never asking again. Three refused snapshots in a row mean a
// view that is gone, and a new browser.
TEST_F(WindowsModule, AFailedBringUpIsOneLinePerAttemptAndTriedAgainUnlessTheRuntimeIsTooOld) {
    // The click and the zoom step on what failed to come up would crash the host.
    const std::string script = "frames 5; command Corvane/TogglePanel; geometry 100 900 868 388; wait 9; "
                               "click 500 500; command Corvane/IncreaseWebZoom";
    for (const auto& [cue, line] :
         {std::pair{"fail-environment", "CV: CreateCoreWebView2EnvironmentWithOptions failed (0x80004005)"},
          {"fail-controller", "CV: CreateCoreWebView2CompositionController failed (0x80004005)"},
          {"no-view", "CV: the WebView2 controller has no view"}}) {
        SCOPED_TRACE(cue);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", cue);
        const Outcome run = this->run(script);
        for (int attempt = 1, delay = 1; attempt <= 4; ++attempt, delay *= 2)
            EXPECT_TRUE(once(run.log, std::string(line) + "; trying again in " + std::to_string(delay) +
                                          " s (attempt " + std::to_string(attempt) + ").\n"));
        EXPECT_EQ(linesStartingWith(run.record, "create-environment").size(), 4u);
    }
    // No runtime installed: nothing a quick retry mends.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "refuse-environment");
    EXPECT_TRUE(once(this->run(script).log, "CV: CreateCoreWebView2EnvironmentWithOptions returned 0x80070002; "
                                            "trying again in 60 s (attempt 1).\n"));

    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "no-environment3");
    const Outcome old = this->run("frames 5; command Corvane/TogglePanel; wait 9");
    EXPECT_TRUE(
        once(old.log, "CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n"));
    EXPECT_EQ(linesStartingWith(old.record, "create-environment").size(), 1u);

    // A failed snapshot is no browser failure: asked again at the next check, nothing logged.
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly;
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "fail-snapshot");
    const Outcome failed = this->run("command Corvane/TogglePanel; wait 2.2");
    EXPECT_GE(linesStartingWith(failed.record, "capture failed").size(), 3u);
    EXPECT_EQ(countOf(failed.log, "CV: "), 0) << failed.log;
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "refuse-snapshot");
    const Outcome refused = this->run("command Corvane/TogglePanel; wait 2.2");
    EXPECT_TRUE(once(refused.log, "CV: WebView2 refused 3 snapshots in a row; trying again in 1 s (attempt 1).\n"));
}

// Where WebView2 may not use its default user-data folder (beside a simulator installed under
// Program Files), whether the loader function refuses it at once or the environment's answer
// does, the request goes again at once with a folder of our own under the user's local
// application data, made if missing; one line says where, and the browser brought up after a
// failure uses it too.
TEST_F(WindowsModule, AUserDataFolderWebView2MayNotUseIsReplacedByOursForTheSession) {
    // The user's folders, under a name in Greek.
    const fs::path pilot = toWide(root_) + L"\u03a0\u03b9\u03bb\u03cc\u03c4\u03bf\u03c2";
    const std::wstring localAppData = (pilot / L"AppData" / L"Local").wstring();
    const std::string ours = toUtf8(localAppData) + "\\Corvane Toolbar\\WebView2";
    wchar_t pilots[MAX_PATH] = {};
    const bool hadOne = GetEnvironmentVariableW(L"LOCALAPPDATA", pilots, MAX_PATH) > 0;
    SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData.c_str());
    for (const std::string refusal : {"deny-default-user-data", "refuse-default-user-data"}) {
        SCOPED_TRACE(refusal);
        std::error_code ignored;
        fs::remove_all(pilot, ignored);
        fs::create_directories(localAppData);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", (refusal + ",browser-exit@2").c_str());
        int shown = -1, after = -1;
        const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388", [&](xpsim::Host& host) {
            runUntil(host, 10, [&] { return (shown = pictureOnPanel(host)) >= 1; });
            ASSERT_TRUE(runUntilLogged(host, "CV: WebView2's browser process exited", 30));
            SetEnvironmentVariableA("CV_WEBVIEW2_CUES", refusal.c_str());
            const int before = lastPictureServed(record_);
            runUntil(host, 10, [&] { return (after = pictureOnPanel(host)) > before; });
        });
        EXPECT_GE(shown, 1);
        EXPECT_GT(after, shown) << "no fresh picture from the browser after the failure";
        EXPECT_TRUE(fs::is_directory(localAppData + L"\\Corvane Toolbar\\WebView2"));
        // Asked again with ours at once, and the next browser with ours from the start.
        EXPECT_EQ(linesStartingWith(run.record, "create-environment").size(), 3u);
        EXPECT_EQ(countOf(run.recordText, "create-environment folder=(null) user-data=" + ours + " "), 2);
        EXPECT_TRUE(once(run.log, "CV: WebView2 could not use its default user-data folder (0x80070005); using " +
                                      withSlashes(ours) + " instead.\n"));
    }
    SetEnvironmentVariableW(L"LOCALAPPDATA", hadOne ? pilots : nullptr);
}

// Without WebView2Loader.dll the plugin looks for the installed runtime itself; with none
// installed, one line says what to install.
TEST_F(WindowsModule, NoLoaderAndNoInstalledRuntimeIsOneLogLineAndThePluginRunsWithoutABrowser) {
    fs::remove(folder_ + "WebView2Loader.dll");
    // A loader on the DLL search path is not ours to take: only the module's folder counts.
    SetDllDirectoryA((buildFolder() + "tools\\webview2_loader").c_str());
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; click 400 600");
    SetDllDirectoryA(nullptr);
    EXPECT_TRUE(once(run.log, "CV: no usable WebView2 runtime is installed; install the Evergreen WebView2 Runtime"));
    EXPECT_TRUE(run.record.empty());

    // A file that is there but is no loader for this process (the 32-bit one, say) is named
    // as such, with the system's error, and the installed runtime is taken instead: here one
    // installed per user only, as the installer does without administrator rights (the package
    // test has one per machine, the unit tests the choice among several).
    const std::wstring runtime = evergreen::installRuntime(
        evergreen::Scope::PerUser, fs::path(root_).wstring() + L"user\\EdgeWebView\\Application", L"121.0.0.1",
        fs::path(buildFolder()).wstring() + L"tools\\webview2_loader\\EmbeddedBrowserWebView.dll");
    ASSERT_FALSE(runtime.empty()) << GetLastError();
    std::ofstream(folder_ + "WebView2Loader.dll", std::ios::binary) << "not a DLL";
    const Outcome wrong = this->run("frames 5");
    EXPECT_TRUE(once(wrong.log, "WebView2Loader.dll could not be loaded (error 193); looking for the installed "
                                "runtime instead.\n"));
    EXPECT_TRUE(once(wrong.log, "CV: using the installed WebView2 runtime 121.0.0.1 in "));
    EXPECT_EQ(linesStartingWith(wrong.record, "navigate ").size(), 1u);
}

TEST_F(WindowsModule, AHostInTheMultithreadedApartmentMakesStartFailWithNothingCreated) {
    options_.comMta = true;
    std::string state;
    const Outcome run = this->run("", [&](xpsim::Host& host) { state = host.stateJson(); });
    EXPECT_FALSE(run.started);
    EXPECT_TRUE(once(run.log, "CV: CoInitializeEx failed\n"));
    for (const char* nothing : {"\"windows\":[]", "\"commands\":[]", "\"menus\":[]", "\"flight_loops\":0"})
        EXPECT_NE(state.find(nothing), std::string::npos) << nothing;
    EXPECT_TRUE(run.record.empty());  // the loader was never asked
}

// The runtime may hold a handler of ours past XPluginStop: stop waits 1 s for it in vain, keeps
// the module loaded and says so; the runtime calls or releases the handler after the simulator
// has unloaded the plugin, in its own loop, where an unmapped module would take it down. At a
// reload with a snapshot outstanding (with an environment owed: AReloadWhileABrowserIsAwaited...
// below), the late answer comes into the second load, which tells it from its own and drops it,
// and works as if nothing had happened.
TEST_F(WindowsModule, LateAnswersPastStopAreDroppedByTheModuleThatStayedLoaded) {
    // Under this cue an answer due once the plugin's host window is gone waits until the plugin
    // has stopped. The second load shows the panel at once, with snapshots answered as usual,
    // and gets them without waiting for the first load's.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "late-completions,hold-snapshots");
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly;
    Outcome run = this->run("command Corvane/TogglePanel; wait 1.2; reload; frames 2", [](xpsim::Host& host) {
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
        play(host, "command Corvane/TogglePanel; wait 1.2");
    });
    EXPECT_TRUE(inOrder(run.record, {"capture held", "client-left live=0 held=1",
                                     "late capture answered returned=0x00000000 handler-left=0 object-left=0",
                                     "capture answered returned=0x00000000 handler-left=0 object-left=0"}));
    EXPECT_TRUE(once(run.log, kKeptLoaded));
    EXPECT_EQ(countOf(run.log, "CV: the browser did not answer"), 0);
    EXPECT_EQ(countOf(run.log, "CV: dropped a snapshot"), 0);

    // Never answered at all: the runtime lets go of the handler after the plugin has gone (a
    // reload's second load would map the module again where the first was). The module that
    // stayed loaded remembers the earlier runs' capture times, so this simulator's clock starts
    // later, as a real one's goes on across a plugin reload.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "hold-snapshots");
    options_.startTime = 30.0;
    run = this->run("command Corvane/TogglePanel; wait 1.2");
    EXPECT_TRUE(inOrder(run.record, {"capture held", "client-left live=0 held=1",
                                     "capture dropped unanswered handler-left=0 object-left=0"}));
    EXPECT_TRUE(once(run.log, kKeptLoaded));
}

// ---- The browser fails, and comes back by itself ----

// Each way WebView2's processes fail, the first time: the panel keeps its last picture, the log
// has one line, and fresh pictures are on the panel within 10 s. A browser lost or hung is let
// go of whole (our handlers removed; a hung one's snapshots let go of at their time-outs and
// its late answers dropped) and brought up again, with the zoom step and the click taken
// meanwhile.
TEST_F(WindowsModule, AfterEachKindOfProcessFailureFreshPicturesAreBackWithin10Seconds) {
    struct Case {
        const char* cue;
        std::string line;  // what the log says of it
        bool recreated;    // a new browser, rather than the same one going on
        int navigations;   // of the configured page in the run
    };
    const Case cases[] = {
        {"browser-exit@2", "CV: WebView2's browser process exited; trying again in 1 s (attempt 1).\n", true, 2},
        {"stop-answering@2", "CV: the browser did not answer 3 snapshots in a row; trying again in 1 s (attempt 1).\n",
         true, 2},
        {"render-exit@2", "CV: WebView2's page process exited; loading the page again.\n", false, 2},
        {"render-hang@2", "CV: WebView2's page stopped responding; loading the page again.\n", false, 2},
        {"gpu-exit@2", "CV: WebView2's GPU process exited; WebView2 starts a new one itself.\n", false, 1},
    };
    options_.paced = true;  // a hung browser is found by time-outs of the wall clock
    // Snapshots larger than the page, as at a display scale of 150 %, shown one to one.
    SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", "1152x768");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cue);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", c.cue);
        // The zoom step of an earlier case is saved at its quit; each case starts at 50 %.
        fs::remove(folder_ + "cv_settings.ini");
        // A hung browser is found by its unanswered snapshots: a screencast that falls silent
        // cannot be told from a page that does not paint.
        if (c.cue == std::string("stop-answering@2"))
            std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly;
        int before = -1, after = -1;
        const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 1252 132", [&](xpsim::Host& host) {
            ASSERT_TRUE(runUntilLogged(host, c.line, 60));
            SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);  // the browsers after it behave
            before = lastPictureServed(record_);
            if (c.recreated) play(host, "click 500 500; command Corvane/IncreaseWebZoom");
            runUntil(host, 10, [&] { return (after = pictureOnPanel(host)) > before; });
        });
        EXPECT_GE(before, 1);
        EXPECT_GT(after, before) << "no fresh picture within 10 s";
        EXPECT_TRUE(once(run.log, c.line));
        EXPECT_EQ(linesStartingWith(run.record, "create-environment").size(), c.recreated ? 2u : 1u);
        EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), static_cast<std::size_t>(c.navigations));
        if (c.cue == std::string("stop-answering@2")) {
            // Each unanswered snapshot's stream was let go of at its time-out; the three came
            // late, as failed, once a new browser was asked for, and were dropped unheard.
            EXPECT_EQ(linesStartingWith(run.record, "held-captures "),
                      (Lines{"held-captures 1 client-stream-refs 0", "held-captures 2 client-stream-refs 0"}));
            EXPECT_EQ(linesStartingWith(run.record, "abandoned capture answered returned=0x00000000").size(), 3u);
            EXPECT_EQ(countOf(run.log, "CV: dropped a snapshot"), 0);
        }
        if (c.recreated) {
            // The new browser's page is laid out as the first one's, whatever the snapshots' size.
            EXPECT_EQ(linesStartingWith(run.record, "bounds "), Lines(2, "bounds 0,0,768,512"));
            // The zoom step and the click on the last picture reach the new page once it has loaded.
            EXPECT_TRUE(inOrder(run.record, {kHiddenParent, kHiddenParent, "zoom 0.550000",
                                             "mouse kind=0x201 keys=0 data=0 x=400 y=400",
                                             "navigation-completed answered returned=0x00000000 handler-left=1 "
                                             "object-left=0"}));
        }
    }
}

// A reload (Plugin Admin) while a new browser is waited for, and while one is coming up: the
// stop leaves nothing behind, what the runtime still owes comes late into a module that stayed
// loaded for it and is dropped there, and the next load fills the panel again.
TEST_F(WindowsModule, AReloadWhileABrowserIsAwaitedOrComingUpLeavesNothingBehind) {
    options_.paced = true;  // the runtime below takes seconds of the wall clock to come up
    // With `kept`, the runtime still owes the next browser's environment at the reload.
    for (const bool kept : {false, true}) {
        SCOPED_TRACE(kept);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", kept ? "browser-exit@1,slow-bringup=2000" : "browser-exit@1");
        int shown = -1;
        const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388", [&](xpsim::Host& host) {
            // In the back-off, or once the next browser has been asked for.
            ASSERT_TRUE(runUntil(host, 30, [&] {
                return kept ? linesStartingWith(readLines(record_), "create-environment").size() == 2
                            : host.log().find("(attempt 1).\n") != std::string::npos;
            }));
            SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
            play(host, "reload; command Corvane/TogglePanel; geometry 100 900 868 388");
            runUntil(host, 10, [&] { return (shown = pictureOnPanel(host)) >= 1; });
        });
        EXPECT_GE(shown, 1) << "the reloaded plugin shows the page";
        EXPECT_EQ(countOf(run.log, kKeptLoaded), kept ? 1 : 0);
        if (kept) {
            // The loader stays loaded with the module, so the second stop is the last one's.
            EXPECT_TRUE(
                inOrder(run.record, {"client-left live=0 held=0",
                                     "late environment answered returned=0x00000000 handler-left=0 object-left=0",
                                     "client-left live=0 held=0"}));
        } else {
            EXPECT_EQ(run.log.find(kStaysMapped), std::string::npos);
            EXPECT_EQ(linesStartingWith(run.record, kCleanUnload).size(), 2u);
        }
    }
}

}  // namespace

// What a page asks of its browser. The panel is shown at the page's size at desktop (100, 900),
// so a page point (x, y) of the dialog the panel draws is clicked at desktop (100 + x, 900 - y).
class WindowsPageRequests : public WindowsModule {
protected:
    // The stand-in asks its questions after its first pictures, which live frames bring on the
    // wall clock, while the stories wait on the simulator's, unpaced: snapshots keep the two
    // together (the questions are the same either way).
    void SetUp() override {
        WindowsModule::SetUp();
        std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly;
    }
    static std::string clickOn(const DialogRect& button) {
        return "click " + std::to_string(100 + (button.left + button.right) / 2) + " " +
               std::to_string(900 - (button.top + button.bottom) / 2);
    }
    static DialogLayout layoutOf(PageDialogKind kind, const std::string& message) {
        return layoutDialog({kind, message, ""}, 768, 512);
    }
    // Waits for the panel to show the page's `count`-th dialog of `kind` ("a confirm").
    static std::string opened(const std::string& kind, int count = 1) {
        return "wait-log " + std::to_string(count) + " 10 CV: the page opened " + kind + " dialog; ";
    }
    // A click on the dialog's box beside its buttons: its answer takes the keyboard.
    static std::string clickBeside(const DialogLayout& dialog) {
        return clickOn({dialog.box.left + 4, dialog.box.top + 4, dialog.box.left + 8, dialog.box.top + 8}) +
               "; wait-focus on 10; ";
    }
    const std::string show_ = "command Corvane/TogglePanel; geometry 100 900 868 388";
};

TEST_F(WindowsPageRequests, EachQuestionOfThePageIsAnsweredAndNothingOpensOnTheDesktop) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "dialog-confirm@3,new-window@8,dialog-prompt@9,permission@14");
    SetEnvironmentVariableA("CV_WEBVIEW2_PERMISSIONS", "2,2,3");
    const auto confirm = layoutOf(PageDialogKind::Confirm, "Log this flight?");
    const auto prompt = layoutOf(PageDialogKind::Prompt, "Flight number?");
    const std::string answerEach = "; " + opened("a confirm") + clickOn(confirm.ok) + "; wait-focus off 1; " +
                                   opened("a prompt") + clickBeside(prompt) +
                                   "type 12; key backspace; type 3; key enter; wait-focus off 1";
    Outcome run = this->run(show_ + answerEach, [&](xpsim::Host& host) {
        EXPECT_TRUE(runUntil(host, 10, [&] {
            return linesStartingWith(readLines(record_), "permission kind=3 state").size() == 1;
        }));
    });
    // WebView2's own dialogs are off before the page loads, and so are its developer tools,
    // browser shortcuts, context menu, autofill and password saving.
    EXPECT_TRUE(inOrder(run.record,
                        {"settings AreDefaultScriptDialogsEnabled=0", "add ScriptDialogOpening token=", "navigate "},
                        true));
    EXPECT_EQ(countOf(run.recordText, "Enabled=0\n"), 6) << run.recordText;
    // OK by a click and a prompt's typed text (after its default) by Enter, each held open by a
    // deferral until then. Which keys and clicks answer what is the shared panel code's.
    EXPECT_EQ(linesStartingWith(run.record, "script-dialog "),
              (Lines{"script-dialog confirm opened", "script-dialog confirm answered accept=1 result= deferred=1",
                     "script-dialog prompt opened", "script-dialog prompt answered accept=1 result=AB13 deferred=1"}));
    EXPECT_EQ(run.recordText.find("capture while the page's dialog is open"), std::string::npos);
    // The new window is none: the panel's page goes there instead.
    EXPECT_TRUE(inOrder(run.record,
                        {"new-window https://panel.example/logbook requested", "navigate https://panel.example/logbook",
                         "new-window https://panel.example/logbook handled: no window"}));
    // Every permission denied, one line per kind.
    EXPECT_EQ(countOf(run.recordText, " state=2\n"), 3) << run.recordText;
    EXPECT_TRUE(once(run.log, "CV: the page asked for the camera; refused.\n"));

    // The leave-page question of our own periodic reload is answered "leave" at once.
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary)
        << kSnapshotsOnly << "refreshWebPageSecs = 2\r\nWebURL = http://example.test/panel\r\n";
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "leave-question");
    run = this->run(show_ + "; wait 5");
    EXPECT_EQ(linesStartingWith(run.record, "script-dialog leave answered"),
              Lines(2, "script-dialog leave answered accept=1 result= deferred=0"));

    // One before a navigation the page started is the pilot's, who stays; a question still open
    // at stop is cancelled through its deferral.
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary) << kSnapshotsOnly << "refreshWebPageSecs = 0\r\n";
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "leave-question,new-window@3,dialog-confirm@5");
    const auto leave = layoutOf(PageDialogKind::BeforeUnload, "");
    run = this->run(show_ + "; " + opened("a leave-page") + clickOn(leave.cancel) + "; " + opened("a confirm"));
    EXPECT_TRUE(
        inOrder(run.record,
                {"script-dialog leave answered accept=0 result= deferred=1", "navigation stayed: the page was not left",
                 "script-dialog confirm opened",
                 "remove ScriptDialogOpening token=", "script-dialog confirm answered accept=0 result= deferred=1"},
                true));

    // A new window at an address that is no web page is not followed, and a download is
    // cancelled, with WebView2's own download UI kept away.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "new-window@2,download@3");
    SetEnvironmentVariableA("CV_WEBVIEW2_NEW_WINDOW", "file:///C:/windows/win.ini");
    // Unpaced frames: on a loaded machine the third snapshot can take many of them.
    run = this->run(show_, [&](xpsim::Host& host) {
        EXPECT_TRUE(
            runUntil(host, 30, [&] { return !linesStartingWith(readLines(record_), "download cancel=").empty(); }));
    });
    EXPECT_EQ(linesStartingWith(run.record, "download cancel="), Lines{"download cancel=1 handled=1"});
    EXPECT_EQ(linesStartingWith(run.record, "new-window file:///C:/windows/win.ini handled: no window").size(), 1u);
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 1u);
}

// A page that opens dialog after dialog: the pilot answers three, every further one of that
// page load is answered as WebView2 raises it, without a deferral, in one line; the next load
// (the new window's page) asks the pilot again.
TEST_F(WindowsPageRequests, APageThatFloodsDialogsHasTheRestOfItsLoadAnsweredWithoutThePilot) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "dialog-alert@3,dialog-alert@4,dialog-alert@5,dialog-confirm@6,"
                                                "dialog-leave@7,dialog-alert@8,new-window@9,dialog-prompt@10");
    std::string script = show_ + "; ";
    for (int n = 1; n <= 3; ++n)
        script += opened("an alert", n) + clickOn(layoutOf(PageDialogKind::Alert, "Sign-in failed").ok) + "; ";
    const Outcome run = this->run(script + opened("a prompt"));
    const std::string shown = "answered accept=1 result= deferred=1";
    EXPECT_EQ(linesStartingWith(run.record, "script-dialog "),
              (Lines{"script-dialog alert opened", "script-dialog alert " + shown, "script-dialog alert opened",
                     "script-dialog alert " + shown, "script-dialog alert opened", "script-dialog alert " + shown,
                     "script-dialog confirm opened", "script-dialog confirm answered accept=0 result= deferred=0",
                     "script-dialog leave opened", "script-dialog leave answered accept=0 result= deferred=0",
                     "script-dialog alert opened", "script-dialog alert answered accept=1 result= deferred=0",
                     "script-dialog prompt opened", "script-dialog prompt answered accept=0 result= deferred=1"}));
    EXPECT_TRUE(once(run.log, "CV: the page opened more than 3 dialogs in 10 s; further dialogs of this page are "
                              "answered without the pilot.\n"));
}

// A page process that fails again soon after the reload that answered its last failure is not
// mended by reloading: the browser is replaced, on the back-off.
TEST_F(WindowsModule, APageThatFailsAgainAfterItsReloadGetsANewBrowser) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "render-exit@2");
    const Outcome run = this->run("command Corvane/TogglePanel", [&](xpsim::Host& host) {
        ASSERT_TRUE(runUntilLogged(host, "loading the page again", 30));
        // The same browser counts on: its fourth snapshot is the reloaded page's second.
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "render-exit@4");
        EXPECT_TRUE(runUntilLogged(host, "after a reload", 30));
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
    });
    EXPECT_TRUE(once(run.log, "CV: WebView2's page process exited; loading the page again.\n"));
    EXPECT_TRUE(
        once(run.log, "CV: WebView2's page process exited again after a reload; trying again in 1 s (attempt 1).\n"));
}
