// The real Windows module, loaded into the Windows build of the stand-in simulator in this
// process, with the stand-in WebView2Loader.dll beside it. Each run lays out its own
// plugin folder, runs a script of simulator and pilot actions, and reads back the
// simulator's log and the stand-in browser's record of every call the plugin made.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host.h"
#include "platform/xplm.h"
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

Lines linesStartingWith(const Lines& lines, const std::string& prefix) {
    Lines found;
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

// True when `expected` appear in `lines` in this order (other lines may come between).
bool inOrder(const Lines& lines, const Lines& expected) {
    std::size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
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
const std::string kCleanUnload = "unload live=0 hidden-windows=0 apartment=none";
const std::string kNoWebview = "CV: error, could not lookup our Webview.\n";
const std::string kKeptLoaded = "CV: WebView2 still holds 1 of our completion handler(s) after 1 s; the plugin stays in "
                                "memory until the simulator quits, so a late call is safely ignored.\n";
const std::string kStaysMapped = "stays mapped after unload";

class WindowsModule : public ::testing::Test {
protected:
    // Process ids repeat under Wine, so a folder of an earlier run may be found again.
    void SetUp() override {
        root_ = (fs::temp_directory_path() / ("cv-windows-" + std::to_string(GetCurrentProcessId()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                    .string() + "\\";
        folder_ = root_ + "Corvane_Toolbar\\win_x64\\";
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        fs::create_directories(folder_);
        fs::copy_file(buildFolder() + "Corvane_Toolbar\\win_x64\\Corvane_Toolbar.xpl", folder_ + "Corvane_Toolbar.xpl");
        fs::copy_file(buildFolder() + "tools\\webview2_loader\\WebView2Loader.dll", folder_ + "WebView2Loader.dll");
        SetEnvironmentVariableA("CV_WEBVIEW2_RECORD", (root_ + "record.txt").c_str());
        // One runtime for the whole process, outside the plugin's folder, as the real one is.
        SetEnvironmentVariableA("CV_WEBVIEW2_RUNTIME",
                                (buildFolder() + "tools\\webview2_loader\\WebView2StandInRuntime.dll").c_str());
        options_.paced = false;
        options_.fps = 30;
        options_.screenTop = 1024;
        options_.screenRight = 1280;
        options_.logFile = root_ + "log.txt";
    }

    void TearDown() override {
        for (const char* name :
             {"CV_WEBVIEW2_RECORD", "CV_WEBVIEW2_CUES", "CV_WEBVIEW2_SNAPSHOT_SIZE", "CV_WEBVIEW2_RUNTIME"})
            SetEnvironmentVariableA(name, nullptr);
        std::error_code ignored;
        if (!HasFailure()) fs::remove_all(root_, ignored);  // a failure's folder is kept for a look
    }

    // Loads the module with a fresh record, runs the script, lets `inspect` look at the
    // running host, then unloads the module the way X-Plane does at exit.
    Outcome run(const std::string& script, const std::function<void(xpsim::Host&)>& inspect = {}) {
        fs::remove(root_ + "record.txt");
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
        // no GL error left behind, no exception escaping.
        EXPECT_EQ(outcome.log.find("xpsim: error:"), std::string::npos) << outcome.log;
        std::ifstream in(root_ + "record.txt");
        for (std::string line; std::getline(in, line);) outcome.record.push_back(line);
        for (const std::string& line : outcome.record) outcome.recordText += line + "\n";
        return outcome;
    }

    xpsim::Options options_;
    std::string root_, folder_;

private:
    // What the stand-in runtime still owes a stopped plugin reaches it through the thread's
    // message queue, which a simulator goes on pumping after the plugin has gone; so does this,
    // for at most 5 s, until the runtime owes nothing more.
    static void settleRuntime() {
        const HMODULE runtime = GetModuleHandleW(L"WebView2StandInRuntime.dll");
        if (runtime == nullptr) return;
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
};

TEST_F(WindowsModule, BringsTheBrowserUpAfterStartTakesAZoomStepAndTearsItDownAtStop) {
    const Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(inOrder(run.record, {"create-environment folder=(null) user-data=(null) options=null apartment=sta",
                                     "environment ready", kHiddenParent, "controller ready", "bounds 0,0,768,512",
                                     "visible 1", "zoom 0.500000"}))
        << run.recordText;
    // One navigation, to the default address: the service's page over HTTPS, path "/".
    const Lines navigations = linesStartingWith(run.record, "navigate ");
    ASSERT_EQ(navigations.size(), 1u) << run.recordText;
    EXPECT_EQ(navigations[0].rfind("navigate https://", 0), 0u);
    EXPECT_EQ(navigations[0].back(), '/');
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (Lines{"zoom 0.500000", "zoom 0.550000"})) << run.recordText;
    // Stop released every browser object, destroyed the hidden window and left COM before
    // the loader went.
    EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
    std::ostringstream settings;
    settings << std::ifstream(folder_ + "cv_settings.ini", std::ios::binary).rdbuf();
    EXPECT_NE(settings.str().find("zoomLevel = 0.550000"), std::string::npos) << settings.str();
}

TEST_F(WindowsModule, StoredSettingsReachTheBrowserAndThePageIsReloadedOnTime) {
    std::ofstream(folder_ + "cv_settings.ini", std::ios::binary)
        << "[General]\r\nzoomLevel = 1.25\r\nrefreshWebPageSecs = 2\r\nWebURL = http://example.test/panel\r\n";
    const Outcome run = this->run("wait 5");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), Lines{"zoom 1.250000"}) << run.recordText;
    // The bring-up navigation, then one each time the clock passes 2 s and 4 s.
    EXPECT_EQ(linesStartingWith(run.record, "navigate "), Lines(3, "navigate http://example.test/panel"))
        << run.recordText;
}

// Wide text to UTF-8, the form the host takes paths in and the log is written in.
std::string utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 1 ? static_cast<std::size_t>(size - 1) : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
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

// Points one entry of a loaded module's import table at `replacement`, as a hooking library
// would, so that a test can make a system call fail for that module only. The entry goes
// with the module when it is unloaded.
bool replaceImport(HMODULE module, const char* dll, const char* function, const void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
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
            if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection)) return false;
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

// The pilot's file is never lost: not when it cannot be read at start (another program holds
// it), nor when the save cannot be finished (the disk is full). In both cases it is left byte
// for byte, with no temporary file beside it and one line in the log.
TEST_F(WindowsModule, ASettingsFileThatCannotBeReadOrRewrittenIsLeftWhole) {
    const std::string settingsPath = folder_ + "cv_settings.ini";
    const std::string pilotsFile = "; mine\r\n[General]\r\nzoomLevel=1.25\r\nWebURL = http://example.test/\r\n\r\n[Other]\r\nkeep=me\r\n";
    std::ofstream(settingsPath, std::ios::binary) << pilotsFile;

    // Held open without sharing (an editor, a virus scan) while the simulator starts, and let
    // go before it quits.
    HANDLE held = CreateFileA(settingsPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom", [&](xpsim::Host&) { CloseHandle(held); });
    EXPECT_EQ(countOf(run.log, "Error loading INI from " + withSlashes(settingsPath) + ". Reverting to defaults..\n"), 1)
        << run.log;
    EXPECT_EQ(countOf(run.log, "could not be read at start-up (CreateFileW failed: "), 1) << run.log;
    EXPECT_EQ(countOf(run.log, "), so it is kept as it was and the settings are not saved\n"), 1) << run.log;
    EXPECT_EQ(fileBytes(settingsPath), pilotsFile);
    EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));

    // Read well, but the disk fills up while the zoom step is saved.
    settingsWrites = 0;
    run = this->run("frames 5; command Corvane/IncreaseWebZoom", [&](xpsim::Host&) {
        const HMODULE module = GetModuleHandleA((folder_ + "Corvane_Toolbar.xpl").c_str());
        ASSERT_TRUE(replaceImport(module, "kernel32.dll", "WriteFile", reinterpret_cast<const void*>(writeUntilTheDiskIsFull)));
    });
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (Lines{"zoom 1.250000", "zoom 1.300000"})) << run.recordText;
    EXPECT_EQ(settingsWrites, 2);
    EXPECT_EQ(countOf(run.log, "CV: could not save the settings to " + withSlashes(settingsPath) +
                                   " (WriteFile failed: "),
              1)
        << run.log;
    EXPECT_EQ(countOf(run.log, "(error 112)); the file on disk is as it was\n"), 1) << run.log;
    EXPECT_EQ(fileBytes(settingsPath), pilotsFile);
    EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));

    // With room on the disk the same run saves the step and keeps the rest of the file.
    run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
    const std::string saved = fileBytes(settingsPath);
    for (const char* kept : {"; mine\r\n", "zoomLevel = 1.300000\r\n", "WebURL = http://example.test/\r\n", "[Other]\r\n",
                             "keep = me\r\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in\n" << saved;
    EXPECT_FALSE(fs::exists(settingsPath + ".tmp"));
}

// A pilot whose user folder is named in Cyrillic or Chinese: no ANSI code page spells such a
// path, so the plugin works with the simulator's native paths (UTF-8) and wide file calls.
TEST_F(WindowsModule, APluginFolderNamedInCyrillicAndChineseGetsItsSettingsAndItsLoader) {
    const std::wstring wideFolder = fs::path(root_).wstring() + L"\u041F\u043E\u043B\u0451\u0442 \u98DB\u884C\\Corvane_Toolbar\\win_x64\\";  // "Полёт 飛行"
    fs::create_directories(wideFolder);
    fs::copy_file(folder_ + "Corvane_Toolbar.xpl", fs::path(wideFolder + L"Corvane_Toolbar.xpl"));
    fs::copy_file(folder_ + "WebView2Loader.dll", fs::path(wideFolder + L"WebView2Loader.dll"));
    folder_ = utf8(wideFolder);  // the host takes UTF-8, as xpsim.exe's command line gives it
    const std::string nativeFolder = withSlashes(folder_);

    // First run, no settings yet: the load error names the folder in UTF-8, the loader is
    // found beside the module, and the zoom step is saved.
    std::string legacyPath, nativePath;
    Outcome run = this->run("frames 5; command Corvane/IncreaseWebZoom", [&](xpsim::Host&) {
        // As X-Plane does, each plugin gets the path form it asked for: this test code (the
        // in-process caller) has legacy paths until it enables native ones. The module was
        // the first load of this host, id 2.
        char path[512] = {};
        XPLMGetPluginInfo(2, nullptr, path, nullptr, nullptr);
        legacyPath = path;
        XPLMEnableFeature("XPLM_USE_NATIVE_PATHS", 1);
        XPLMGetPluginInfo(2, nullptr, path, nullptr, nullptr);
        nativePath = path;
    });
    EXPECT_EQ(nativePath, nativeFolder + "Corvane_Toolbar.xpl");
    EXPECT_EQ(legacyPath.find('/'), std::string::npos) << legacyPath;
    if (GetACP() != CP_UTF8) {
        EXPECT_NE(legacyPath, folder_ + "Corvane_Toolbar.xpl");
    }
    EXPECT_EQ(countOf(run.log, "Error loading INI from " + nativeFolder + "cv_settings.ini. Reverting to defaults..\n"), 1)
        << run.log;
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 1u) << run.recordText;
    EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    EXPECT_NE(fileBytes(wideFolder + L"cv_settings.ini").find("zoomLevel = 0.550000"), std::string::npos);

    // Second run: the saved zoom reaches the browser, and the next step is written back.
    run = this->run("frames 5; command Corvane/IncreaseWebZoom");
    EXPECT_EQ(linesStartingWith(run.record, "zoom "), (Lines{"zoom 0.550000", "zoom 0.600000"})) << run.recordText;
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
    EXPECT_NE(fileBytes(wideFolder + L"cv_settings.ini").find("zoomLevel = 0.600000"), std::string::npos);
}

TEST_F(WindowsModule, SnapshotsAreDecodedAndDrawnUpright) {
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    // Desktop pixel under a point of the global desktop (y up), 8 pixels inside the window.
    auto colourAt = [&](int x, int y) {
        const std::size_t at = (static_cast<std::size_t>(options_.screenTop - 1 - y) * width + x) * 4;
        if (desktop.size() < at + 3) return std::vector<int>{};
        return std::vector<int>{desktop[at], desktop[at + 1], desktop[at + 2]};
    };
    auto rgb = [](snapshot_pattern::Rgb c) { return std::vector<int>{c.r, c.g, c.b}; };
    // The decode thread takes its own time: the frames run on until a decoded snapshot is on
    // screen, rather than for a fixed number that a loaded machine may outrun.
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.5",
                                  [&](xpsim::Host& host) {
                                      std::string error;
                                      for (int attempt = 0; attempt < 1000; ++attempt) {
                                          host.readDesktop(desktop, width, height);
                                          if (colourAt(108, 891) == rgb(snapshot_pattern::kTopLeft)) break;
                                          Sleep(10);
                                          ASSERT_TRUE(host.run("frames 1", error)) << error;
                                      }
                                  });
    EXPECT_GE(linesStartingWith(run.record, "capture done 768x512 hr=0x00000000").size(), 2u) << run.recordText;
    ASSERT_TRUE(width == 1280 && height == 1024) << width << "x" << height;
    EXPECT_EQ(colourAt(108, 891), rgb(snapshot_pattern::kTopLeft));
    EXPECT_EQ(colourAt(859, 891), rgb(snapshot_pattern::kTopRight));
    EXPECT_EQ(colourAt(108, 396), rgb(snapshot_pattern::kBottomLeft));
    EXPECT_EQ(colourAt(859, 396), rgb(snapshot_pattern::kBottomRight));
    EXPECT_EQ(colourAt(484, 644), rgb(snapshot_pattern::kBackground));
}

TEST_F(WindowsModule, ClicksSendOnePressAndOneReleaseAtTheMappedPixel) {
    // With clicks only, press and drag send nothing; the release sends the pair at its own
    // position.
    std::ofstream(folder_ + "cv_settings.ini") << "[General]\nPanelInput = clicks\n";
    Outcome run = this->run(
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; press 500 500; drag 510 520; "
        "release 100 900; click 867 389");
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=0 y=0", "mouse kind=0x202 keys=0 data=0 x=0 y=0",
                     "mouse kind=0x201 keys=0 data=0 x=767 y=511", "mouse kind=0x202 keys=0 data=0 x=767 y=511"}))
        << run.recordText;

    // A window of 1200 x 800 boxels, over which the image is stretched: (1100, 200) is 1000
    // boxels right of its left edge and 700 below its top, so page pixel (640, 448) of the
    // 768 x 512 page before the first snapshot, and (960, 672) once a 1152 x 768 one is shown.
    SetEnvironmentVariableA("CV_WEBVIEW2_SNAPSHOT_SIZE", "1152x768");
    // The decode thread publishes the new size in its own time. It does so before the frame
    // can be drawn, so the second click waits until the first frame's red corner is on screen.
    run = this->run("frames 5; geometry 100 900 1300 100; command Corvane/TogglePanel; click 1100 200; wait 1.5",
                    [this](xpsim::Host& host) {
                        std::vector<std::uint8_t> desktop;
                        int width = 0, height = 0;
                        std::string error;
                        const std::size_t at = (static_cast<std::size_t>(options_.screenTop - 1 - 890) * 1280 + 110) * 4;
                        for (int attempt = 0; attempt < 1000; ++attempt) {
                            host.readDesktop(desktop, width, height);
                            if (desktop.size() > at + 2 && desktop[at] == 0xFF && desktop[at + 1] == 0 &&
                                desktop[at + 2] == 0)
                                break;
                            Sleep(10);
                            ASSERT_TRUE(host.run("frames 1", error)) << error;
                        }
                        EXPECT_TRUE(host.run("click 1100 200", error)) << error;
                    });
    EXPECT_GE(linesStartingWith(run.record, "capture done 1152x768").size(), 1u) << run.recordText;
    EXPECT_EQ(countOf(run.log, "CV: Bounds invalid.\n"), 0) << run.log;
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=640 y=448", "mouse kind=0x202 keys=0 data=0 x=640 y=448",
                     "mouse kind=0x201 keys=0 data=0 x=960 y=672", "mouse kind=0x202 keys=0 data=0 x=960 y=672"}))
        << run.recordText;
}

TEST_F(WindowsModule, HoverDragAndLeaveGoThroughTheControllerAndTheKeyboardStaysWithTheSimulator) {
    // The window is the page's size at desktop (100, 900): page pixel (x, y) is at
    // (100 + x, 900 - y). Resting where it clicked, the pointer sends nothing more; moved, it
    // hovers; a press that moves ten boxels is a drag, with the left-button flag while held;
    // gone from the panel, the page hears it leave. With no page focus to learn here, a click
    // takes no keys.
    const std::string script =
        "command Corvane/TogglePanel; geometry 100 900 868 388; wait 0.3; click 500 500; frames 2; hover 520 480; "
        "frames 2; press 200 800; drag 210 800; frames 1; drag 260 800; frames 1; release 300 800; hover off; "
        "frames 2; key a; key space; rightclick 500 500";
    Outcome run = this->run(script, [](xpsim::Host& host) {
        EXPECT_EQ(host.stateJson().find("\"keyboard_focus\":true"), std::string::npos);
    });
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=400 y=400", "mouse kind=0x202 keys=0 data=0 x=400 y=400",
                     "mouse kind=0x200 keys=0 data=0 x=420 y=420", "mouse kind=0x201 keys=1 data=0 x=100 y=100",
                     "mouse kind=0x200 keys=1 data=0 x=110 y=100", "mouse kind=0x200 keys=1 data=0 x=160 y=100",
                     "mouse kind=0x200 keys=1 data=0 x=200 y=100", "mouse kind=0x202 keys=0 data=0 x=200 y=100",
                     "mouse kind=0x2A3 keys=0 data=0 x=200 y=100"}))
        << run.recordText;
    EXPECT_EQ(countOf(run.log, "goes to the simulator"), 2) << run.log;
    EXPECT_EQ(run.log.find("callback\n"), std::string::npos) << run.log;

    // With clicks only: the click's pair and the drag's release as a click, nothing else.
    std::ofstream(folder_ + "cv_settings.ini") << "[General]\nPanelInput = clicks\n";
    run = this->run(script);
    EXPECT_EQ(linesStartingWith(run.record, "mouse "),
              (Lines{"mouse kind=0x201 keys=0 data=0 x=400 y=400", "mouse kind=0x202 keys=0 data=0 x=400 y=400",
                     "mouse kind=0x201 keys=0 data=0 x=200 y=100", "mouse kind=0x202 keys=0 data=0 x=200 y=100"}))
        << run.recordText;
}

TEST_F(WindowsModule, WhileThePluginIsDisabledNoSnapshotIsAskedForAndEnablingResumesThem) {
    auto captures = [this] {
        std::ifstream in(root_ + "record.txt");
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.rfind("capture requested", 0) == 0 ? 1 : 0;
        return n;
    };
    int whenDisabled = 0, whenEnabled = 0;
    const Outcome run = this->run("command Corvane/TogglePanel; wait 1.2; disable", [&](xpsim::Host& host) {
        std::string error;
        whenDisabled = captures();
        EXPECT_TRUE(host.run("wait 2; command Corvane/TogglePanel", error)) << error;
        whenEnabled = captures();
        EXPECT_TRUE(host.run("enable; wait 1.2", error)) << error;
    });
    EXPECT_GE(whenDisabled, 2) << run.recordText;
    EXPECT_EQ(whenEnabled, whenDisabled) << run.recordText;
    EXPECT_GE(linesStartingWith(run.record, "capture requested").size(), static_cast<std::size_t>(whenDisabled + 2))
        << run.recordText;
    EXPECT_NE(run.log.find("xpsim: enabled CorvaneToolbar"), std::string::npos) << run.log;
}

TEST_F(WindowsModule, EachBrowserFailureIsReportedOnceAndThePluginRunsOn) {
    struct Case {
        const char* cue;
        std::string line;  // logged exactly once, if any
        Lines absent;      // calls never made
    };
    const Case cases[] = {
        {"fail-environment", "CV: CreateCoreWebView2EnvironmentWithOptions failed\n", {"create-controller", "mouse"}},
        {"refuse-environment", "CV: CreateCoreWebView2EnvironmentWithOptions returned 0x80070002\n",
         {"create-controller", "mouse"}},
        {"no-environment3",
         "CV: the WebView2 runtime has no ICoreWebView2Environment3; running without a browser.\n",
         {"create-controller", "mouse"}},
        {"fail-controller", "CV: CreateCoreWebView2CompositionController failed\n",
         {"bounds", "visible", "zoom", "navigate", "capture", "mouse"}},
        {"refuse-controller", "CV: CreateCoreWebView2CompositionController returned 0x80070578\n",
         {"controller ready", "bounds", "visible", "zoom", "navigate", "capture", "mouse"}},
        {"no-view", "", {"navigate", "mouse"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cue);
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", c.cue);
        const Outcome run = this->run(
            "frames 5; command Corvane/TogglePanel; geometry 100 900 868 388; wait 1.2; click 400 600; "
            "command Corvane/IncreaseWebZoom");
        EXPECT_EQ(c.line.empty() ? 1 : countOf(run.log, c.line), 1) << run.log;
        EXPECT_GE(countOf(run.log, kNoWebview), 1) << run.log;
        for (const std::string& call : c.absent)
            EXPECT_TRUE(linesStartingWith(run.record, call).empty()) << call << "\n" << run.recordText;
        ASSERT_FALSE(run.record.empty());
        EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
    }

    // A failed or refused snapshot clears the in-flight flag: one request per due check. A
    // refusal, which repeats for as long as the view is unusable, is told once.
    for (const auto& [cue, line, told] :
         {std::tuple{"fail-snapshot", "capture failed", ""},
          {"refuse-snapshot", "capture refused",
           "CV: WebView2 refused a snapshot (0x80004005); the panel keeps its last picture.\n"}}) {
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", cue);
        const Outcome run = this->run("command Corvane/TogglePanel; wait 2.2");
        EXPECT_GE(linesStartingWith(run.record, line).size(), 3u) << run.recordText;
        EXPECT_EQ(run.record.back(), kCleanUnload) << run.recordText;
        EXPECT_EQ(countOf(run.log, "CV: "), *told == '\0' ? 0 : 1) << run.log;
        if (*told != '\0') {
            EXPECT_EQ(countOf(run.log, told), 1) << run.log;
        }
    }
}

TEST_F(WindowsModule, AMissingLoaderIsOneLogLineAndThePluginRunsWithoutABrowser) {
    fs::remove(folder_ + "WebView2Loader.dll");
    // A loader on the DLL search path is not ours to take: only the module's folder counts.
    SetDllDirectoryA((buildFolder() + "tools\\webview2_loader").c_str());
    const Outcome run = this->run("frames 5; command Corvane/TogglePanel; wait 1.2; click 400 600");
    SetDllDirectoryA(nullptr);
    // The folder as the simulator hands it out with native paths: '/' between folders.
    std::string nativeFolder = folder_;
    std::replace(nativeFolder.begin(), nativeFolder.end(), '\\', '/');
    EXPECT_EQ(countOf(run.log, "CV: WebView2Loader.dll not found in " + nativeFolder + "; running without a browser.\n"),
              1)
        << run.log;
    EXPECT_GE(countOf(run.log, kNoWebview), 1) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_TRUE(run.record.empty()) << run.recordText;

    // A file that is there but is no loader for this process (the 32-bit one, say) is named
    // as such, with the system's error.
    std::ofstream(folder_ + "WebView2Loader.dll", std::ios::binary) << "not a DLL";
    const Outcome wrong = this->run("frames 5");
    EXPECT_EQ(countOf(wrong.log, "CV: " + nativeFolder + "WebView2Loader.dll could not be loaded (error " +
                                     std::to_string(ERROR_BAD_EXE_FORMAT) + "); running without a browser.\n"),
              1)
        << wrong.log;
}

TEST_F(WindowsModule, AHostInTheMultithreadedApartmentMakesStartFailWithNothingCreated) {
    options_.comMta = true;
    std::string state;
    const Outcome run = this->run("", [&](xpsim::Host& host) { state = host.stateJson(); });
    EXPECT_FALSE(run.started);
    EXPECT_EQ(countOf(run.log, "CV: CoInitializeEx failed\n"), 1) << run.log;
    EXPECT_NE(run.log.find("xpsim: the failed plugin's description: Not started: the simulator's main thread could "
                           "not be prepared for the browser (see Log.txt).\n"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("returned 0"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    for (const char* nothing : {"\"windows\":[]", "\"commands\":[]", "\"menus\":[]", "\"flight_loops\":0"})
        EXPECT_NE(state.find(nothing), std::string::npos) << nothing << "\n" << state;
    EXPECT_TRUE(run.record.empty()) << run.recordText;  // the loader was never asked
}

TEST_F(WindowsModule, ReloadingTwiceBringsTheBrowserUpAgainAndLeavesNothingBehind) {
    // The first load stops before the browser answers (no frame runs), with the environment's
    // completion still queued: its stop takes the answer in and drops it, keeping nothing of
    // it, so the module can go. Each later load makes its own hidden window, the third with the
    // class the second registered.
    const Outcome run = this->run("reload; frames 5; reload; frames 5");
    EXPECT_TRUE(inOrder(run.record, {"environment ready", "environment answered returned=0x00000000 handler-left=0 object-left=0",
                                     "client-left live=0 held=0", kCleanUnload,
                                     "create-environment folder=(null) user-data=(null) options=null apartment=sta"}))
        << run.recordText;
    EXPECT_EQ(countOf(run.log, "CV: "), 0) << run.log;
    EXPECT_EQ(linesStartingWith(run.record, kHiddenParent).size(), 2u) << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 2u) << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, kCleanUnload).size(), 3u) << run.recordText;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find(kStaysMapped), std::string::npos) << run.log;
    // The class outlives the module (its procedure is DefWindowProcW, its instance the
    // simulator's): a registration now fails as the third load's did.
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"WebView2HiddenForXPlane";
    EXPECT_EQ(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

// The runtime may hold a handler of ours after XPluginStop. Here a snapshot it never answers
// while the plugin runs: stop waits 1 s for it in vain, keeps the module loaded and says so;
// once the simulator has unloaded the plugin, the runtime calls the handler, and then releases
// it, in the simulator's own loop. Unmapped, the module would take the simulator down there.
TEST_F(WindowsModule, AHandlerTheBrowserHoldsPastStopFindsTheModuleStillThereAndIsIgnored) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "late-completions,hold-snapshots");
    Outcome run = this->run("command Corvane/TogglePanel; wait 1.2");
    EXPECT_EQ(linesStartingWith(run.record, "capture requested").size(), 1u) << run.recordText;
    // Answered late and ignored: the plugin had let go of the stream at stop, and keeps
    // nothing of the answer.
    EXPECT_TRUE(inOrder(run.record, {"capture held", "client-left live=0 held=1",
                                     "late capture answered returned=0x00000000 handler-left=0 object-left=0"}))
        << run.recordText;
    EXPECT_EQ(countOf(run.log, kKeptLoaded), 1) << run.log;
    EXPECT_EQ(countOf(run.log, kStaysMapped), 1) << run.log;
    EXPECT_EQ(run.log.find("leak:"), std::string::npos) << run.log;

    // Never answered at all: the runtime lets go of the handler after the plugin has gone. The
    // module that stayed loaded remembers the first run's capture times, so this simulator's
    // clock starts later, as a real one's goes on across a plugin reload.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "hold-snapshots");
    options_.startTime = 30.0;
    run = this->run("command Corvane/TogglePanel; wait 1.2");
    EXPECT_TRUE(inOrder(run.record, {"capture held", "client-left live=0 held=1",
                                     "capture dropped unanswered handler-left=0 object-left=0"}))
        << run.recordText;
    EXPECT_EQ(countOf(run.log, kKeptLoaded), 1) << run.log;
}

// A reload while the runtime still owes the first load something, first the environment, then
// a snapshot: the late answer comes into the second load, which tells it from its own and
// drops it, and the second load's browser and snapshots work as if nothing had happened.
TEST_F(WindowsModule, LateAnswersToAnEarlierLoadAreDroppedByTheNextOne) {
    // Under this cue an answer due once the plugin's host window is gone waits until the
    // plugin has stopped: the environment, asked for at start, is still owed at the reload.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "late-completions");
    Outcome run = this->run("reload; frames 5");
    EXPECT_TRUE(inOrder(run.record, {"environment held: the client's window is gone", "client-left live=0 held=1",
                                     "late environment answered returned=0x00000000 handler-left=0 object-left=0"}))
        << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, kHiddenParent).size(), 1u) << run.recordText;
    EXPECT_EQ(linesStartingWith(run.record, "navigate ").size(), 1u) << run.recordText;
    EXPECT_EQ(countOf(run.log, kKeptLoaded), 1) << run.log;
    EXPECT_EQ(run.record.back(), "client-left live=0 held=0") << run.recordText;

    // A snapshot outstanding at the reload; the second load shows the panel at once, with
    // snapshots answered as usual, and gets them without waiting for the first load's.
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "late-completions,hold-snapshots");
    run = this->run("command Corvane/TogglePanel; wait 1.2; reload; frames 2", [](xpsim::Host& host) {
        SetEnvironmentVariableA("CV_WEBVIEW2_CUES", nullptr);
        std::string error;
        EXPECT_TRUE(host.run("command Corvane/TogglePanel; wait 1.2", error)) << error;
    });
    EXPECT_TRUE(inOrder(run.record, {"capture held", "client-left live=0 held=1",
                                     "late capture answered returned=0x00000000 handler-left=0 object-left=0",
                                     "capture answered returned=0x00000000 handler-left=0 object-left=0"}))
        << run.recordText;
    EXPECT_EQ(countOf(run.log, kKeptLoaded), 1) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: the browser did not answer"), 0) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: dropped a snapshot"), 0) << run.log;
}

// A snapshot the browser answers 12 s late: one time-out line after 10 s, a new request that
// is answered at once, and the late answer dropped with its stream let go; the panel shows the
// page. The time-out counts wall-clock time, so this run keeps to it.
TEST_F(WindowsModule, ASnapshotAnsweredAfterItsTimeOutIsDroppedAndSnapshotsGoOn) {
    SetEnvironmentVariableA("CV_WEBVIEW2_CUES", "late-first-snapshot");
    options_.paced = true;
    std::vector<std::uint8_t> desktop;
    int width = 0, height = 0;
    const Outcome run = this->run("command Corvane/TogglePanel; geometry 100 900 868 388; wait 13.5",
                                  [&](xpsim::Host& host) { host.readDesktop(desktop, width, height); });
    EXPECT_EQ(countOf(run.log, "CV: the browser did not answer a snapshot within 10 s; asking again.\n"), 1) << run.log;
    EXPECT_EQ(countOf(run.log, "CV: dropped a snapshot that arrived after its time-out.\n"), 1) << run.log;
    EXPECT_EQ(linesStartingWith(run.record, "capture delayed 12 s").size(), 1u) << run.recordText;
    EXPECT_TRUE(inOrder(run.record, {"capture requested format=0", "capture delayed 12 s", "capture requested format=0",
                                     "capture answered returned=0x00000000 handler-left=0 object-left=0",
                                     "delayed capture answered returned=0x00000000 handler-left=0 object-left=0",
                                     "capture answered returned=0x00000000 handler-left=0 object-left=0"}))
        << run.recordText;
    ASSERT_TRUE(width == 1280 && height == 1024) << width << "x" << height;
    const std::size_t topLeft = (static_cast<std::size_t>(options_.screenTop - 1 - 891) * width + 108) * 4;
    EXPECT_EQ((std::vector<int>{desktop[topLeft], desktop[topLeft + 1], desktop[topLeft + 2]}),
              (std::vector<int>{snapshot_pattern::kTopLeft.r, snapshot_pattern::kTopLeft.g, snapshot_pattern::kTopLeft.b}));
}

}  // namespace
