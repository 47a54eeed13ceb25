// xpsim: loads one plugin module as X-Plane does and runs a script of simulator and user
// actions against it. See docs/xpsim.md.
#include "host.h"
#include "utf8_path.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#    include <windows.h>
#    include <shellapi.h>
#endif

namespace {

constexpr int kExitLoadError = 1;
constexpr int kExitScriptError = 2;
constexpr int kExitUsage = 64;

const char* const kUsage =
    "usage: xpsim [--screen L,T,R,B] [--ui-scale S] [--start-time S] [--fps N] [--unpaced] [--vr]\n"
    "             [--no-vr-dataref] [--clean-gl | --gl-seed N] [--log FILE] [--com-mta (Windows)]\n"
    "             PLUGIN.xpl [SCRIPT_FILE | -e 'cmd; cmd; ...']\n";

extern "C" void onInterrupt(int) { xpsim::Host::requestInterrupt(); }

int usage(const std::string& problem) {
    std::cerr << "xpsim: " << problem << "\n" << kUsage;
    return kExitUsage;
}

bool parseDouble(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

bool parseScreen(const std::string& text, xpsim::Options& options) {
    int values[4];
    std::istringstream in(text);
    char comma = 0;
    for (int i = 0; i < 4; ++i) {
        if (!(in >> values[i])) return false;
        if (i < 3 && (!(in >> comma) || comma != ',')) return false;
    }
    if (in >> comma) return false;
    if (values[2] <= values[0] || values[1] <= values[3]) return false;
    options.screenLeft = values[0];
    options.screenTop = values[1];
    options.screenRight = values[2];
    options.screenBottom = values[3];
    return true;
}

// The arguments as UTF-8, which the host takes for every path. Windows hands main() its
// arguments in the ANSI code page, which cannot spell every folder name (a pilot's user name
// in Cyrillic or Chinese, say), so there they come from the wide command line.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
#if defined(_WIN32)
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 0; i < count; ++i) {
            const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
            std::string text(size > 1 ? static_cast<std::size_t>(size - 1) : 0, '\0');
            if (size > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
            arguments.push_back(text);
        }
        LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (const std::string& argument : arguments) utf8Argv.push_back(const_cast<char*>(argument.c_str()));
    argc = static_cast<int>(utf8Argv.size());
    argv = utf8Argv.data();

    xpsim::Options options;
    std::string modulePath, script;
    bool haveScript = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << "See docs/xpsim.md for the script commands.\n";
            return 0;
        }
        if (arg == "--screen") {
            const char* v = value();
            if (v == nullptr || !parseScreen(v, options)) return usage("--screen needs L,T,R,B with R > L and T > B");
        } else if (arg == "--ui-scale") {
            const char* v = value();
            if (v == nullptr || !parseDouble(v, options.uiScale) || !(options.uiScale >= 1 && options.uiScale <= 4)) {
                return usage("--ui-scale needs pixels per boxel from 1 to 4");
            }
        } else if (arg == "--start-time") {
            const char* v = value();
            if (v == nullptr || !parseDouble(v, options.startTime)) return usage("--start-time needs seconds");
        } else if (arg == "--fps") {
            const char* v = value();
            double fps = 0;
            if (v == nullptr || !parseDouble(v, fps) || fps < 1 || fps > 1000 || fps != static_cast<int>(fps)) {
                return usage("--fps needs a whole number from 1 to 1000");
            }
            options.fps = static_cast<int>(fps);
        } else if (arg == "--unpaced") {
            options.paced = false;
        } else if (arg == "--vr") {
            options.vr = true;
        } else if (arg == "--no-vr-dataref") {
            options.vrDataref = false;
        } else if (arg == "--clean-gl") {
            options.hostileGl = false;
        } else if (arg == "--gl-seed") {
            const char* v = value();
            double seed = 0;
            if (v == nullptr || !parseDouble(v, seed) || seed < 0 || seed > 4294967295.0 ||
                seed != static_cast<double>(static_cast<std::uint32_t>(seed))) {
                return usage("--gl-seed needs a whole number from 0 to 4294967295");
            }
            options.glSeed = static_cast<std::uint32_t>(seed);
        } else if (arg == "--log") {
            const char* v = value();
            if (v == nullptr) return usage("--log needs a file");
            options.logFile = v;
        } else if (arg == "--com-mta") {
            options.comMta = true;
        } else if (arg == "-e") {
            const char* v = value();
            if (v == nullptr || haveScript || modulePath.empty()) return usage("-e needs a script after the module");
            script = v;
            haveScript = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else if (modulePath.empty()) {
            modulePath = arg;
        } else if (!haveScript) {
            std::ifstream in(xpsim::utf8Path(arg), std::ios::binary);
            if (!in) {
                std::cerr << "xpsim: error: cannot read script file " << arg << "\n";
                return kExitScriptError;
            }
            std::ostringstream text;
            text << in.rdbuf();
            script = text.str();
            haveScript = true;
        } else {
            return usage("unexpected argument " + arg);
        }
    }
    if (modulePath.empty()) return usage("no plugin module given");

    // Ctrl-C or a polite kill ends the script after the current frame; the plugin is still
    // disabled, stopped and unloaded, so its threads and child processes go with it.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    try {
        xpsim::Host host(options);
        std::string error;
        if (!host.load(modulePath, error)) {
            std::cerr << "xpsim: error: " << error << "\n";
            return kExitLoadError;
        }
        if (!host.run(script, error)) {
            std::cerr << "xpsim: error: " << error << "\n";
            return kExitScriptError;
        }
        // The host's destructor unloads a module still loaded (Disable, Stop, leak check).
    } catch (const std::exception& e) {
        std::cerr << "xpsim: error: " << e.what() << "\n";
        return kExitScriptError;
    }
    return 0;
}
