// The pilot's settings file is never lost: not when it cannot be read at start-up, nor when
// the save at quit cannot be finished. The failures come from the module's own system calls,
// made to fail for files named cv_settings.ini* only (tests run as root, so permissions
// cannot make them fail). Nor does it hold up the simulator's start, whatever it is.
#include "harness.h"
#include "import_hook.h"
#include "module_fixture.h"
#include "processes.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

bool namesSettingsFile(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = '\0';
    const char* name = std::strrchr(target, '/');
    return name != nullptr && std::strncmp(name + 1, "cv_settings.ini", 15) == 0;
}

ssize_t readFailsWithAnIoError(int fd, void* buffer, size_t size) {
    if (!namesSettingsFile(fd)) return read(fd, buffer, size);
    errno = EIO;
    return -1;
}

// The disk fills up while the settings are written: the first write takes a few bytes, the
// next fails.
int settingsWrites = 0;
ssize_t writeUntilTheDiskIsFull(int fd, const void* data, size_t size) {
    if (!namesSettingsFile(fd)) return write(fd, data, size);
    if (settingsWrites++ == 0) return write(fd, data, std::min<size_t>(size, 8));
    errno = ENOSPC;
    return -1;
}


class SettingsSafety : public ModuleTest {
protected:
    // The module is mapped before the host loads it, so that its system calls can be swapped
    // before XPluginStart reads the settings; the host's load then shares this mapping.
    void loadWithFailing(const char* function, void* replacement) {
        early = dlopen(sandbox.module().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(early, nullptr) << dlerror();
        ASSERT_TRUE(replaceImport(sandbox.module(), function, replacement));
        ASSERT_TRUE(start());
    }
    void TearDown() override {
        host.reset();
        if (early != nullptr) dlclose(early);
        ModuleTest::TearDown();
    }

    std::string settingsPath() const { return pluginFolder + "/cv_settings.ini"; }

    void* early = nullptr;
    const std::string pilotsFile = "; mine\n[General]\nzoomLevel=1.25\n\n[Other]\nkeep=me\n";
};

TEST_F(SettingsSafety, AFileThatCannotBeReadIsLeftByteForByte) {
    std::ofstream(settingsPath(), std::ios::binary) << pilotsFile;
    loadWithFailing("read", reinterpret_cast<void*>(readFailsWithAnIoError));
    run("frames 5; quit");
    const std::string log = host->log();
    EXPECT_EQ(testprocs::countOccurrences(log, " could not be read at start-up (read failed: Input/output error)"), 1)
        << log;
    EXPECT_EQ(testprocs::slurp(settingsPath()), pilotsFile);
    EXPECT_FALSE(std::filesystem::exists(settingsPath() + ".tmp"));
}

TEST_F(SettingsSafety, ASaveThatCannotBeFinishedLeavesTheOldFileAndNoTemporaryFile) {
    // The zoom step must be saved, so a save that got through would show.
    std::ofstream(settingsPath(), std::ios::binary) << pilotsFile;
    settingsWrites = 0;
    loadWithFailing("write", reinterpret_cast<void*>(writeUntilTheDiskIsFull));
    run("command Corvane/IncreaseWebZoom once; frames 5; quit");
    EXPECT_EQ(settingsWrites, 2);
    const std::string log = host->log();
    EXPECT_EQ(testprocs::countOccurrences(log, " (write failed: No space left on device)"), 1) << log;
    EXPECT_EQ(testprocs::slurp(settingsPath()), pilotsFile);
    EXPECT_FALSE(std::filesystem::exists(settingsPath() + ".tmp"));
}

// A FIFO named cv_settings.ini, or a file of 2 MiB, is neither read nor written, and the start
// goes on at once with the defaults: the FIFO held the start for ever (nobody writes to it), the
// large file for as long as it took to read, and a zoom step at quit replaced either. The
// simulator runs as a child process, so a start that hangs is killed rather than the test.
TEST_F(SettingsSafety, AFifoOrAHugeFileIsNeitherReadNorWrittenAndTheStartGoesOnAtOnce) {
    // Read, its BrowserPath would be tried instead of looking for a browser on PATH.
    std::string huge = "[General]\nBrowserPath = /nowhere/browser\n";
    huge.resize(2 << 20, '\n');
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "a FIFO" : "2 MiB");
        std::filesystem::remove(settingsPath());
        if (fifo) {
            ASSERT_EQ(::mkfifo(settingsPath().c_str(), 0644), 0);
        } else {
            std::ofstream(settingsPath(), std::ios::binary) << huge;
        }
        harness::Xpsim sim(pluginFolder, "command Corvane/IncreaseWebZoom once; frames 5; quit", {});
        auto logged = [&](const char* text) { return sim.log().find(text) != std::string::npos; };
        ASSERT_TRUE(harness::eventually([&] { return logged("xpsim: loaded "); }, 60)) << sim.log();
        // A bound on a wait that would otherwise never end: the start takes milliseconds.
        const bool started = harness::eventually([&] { return logged("xpsim: started CorvaneToolbar"); }, 2);
        EXPECT_TRUE(started) << "the start hangs:\n" << sim.log();
        if (!started) sim.kill(SIGKILL);
        const int status = sim.wait(60);
        const std::string log = sim.log();
        EXPECT_TRUE(!started || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status << "\n" << log;
        // One line names the file, that it is not read; none says it could not be read or saved.
        EXPECT_EQ(testprocs::countOccurrences(log, settingsPath()), 1) << log;
        EXPECT_EQ(testprocs::countOccurrences(log, ", so it is not read: the settings are the defaults"), 1) << log;
        EXPECT_TRUE(!started || logged("CV: no Chromium found")) << log;
        if (fifo) {
            EXPECT_TRUE(std::filesystem::is_fifo(settingsPath()));
        } else {
            EXPECT_TRUE(testprocs::slurp(settingsPath()) == huge) << "the file was changed";
        }
        EXPECT_FALSE(std::filesystem::exists(settingsPath() + ".tmp"));
    }
}

}  // namespace
