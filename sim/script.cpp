#include "script.h"

#include "host_state.h"
#include "keyboard.h"
#include "utf8_path.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

namespace xpsim {
namespace {

struct Line {
    int number = 0;
    std::string text;
};

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::vector<Line> splitScript(const std::string& script) {
    std::vector<Line> lines;
    std::istringstream in(script);
    std::string physical;
    int number = 0;
    while (std::getline(in, physical)) {
        ++number;
        const auto hash = physical.find('#');
        if (hash != std::string::npos && trim(physical.substr(0, hash)).empty()) continue;  // comment line
        std::size_t start = 0;
        while (start <= physical.size()) {
            const auto semicolon = physical.find(';', start);
            const auto end = semicolon == std::string::npos ? physical.size() : semicolon;
            std::string command = trim(physical.substr(start, end - start));
            if (!command.empty()) lines.push_back(Line{number, command});
            if (semicolon == std::string::npos) break;
            start = semicolon + 1;
        }
    }
    return lines;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> result;
    std::string word;
    while (in >> word) result.push_back(word);
    return result;
}

// Everything after the first `count` words, as one argument (titles and paths may hold spaces).
std::string restAfterWords(const std::string& text, int count) {
    std::string rest = trim(text);
    for (int i = 0; i < count; ++i) {
        const auto space = rest.find_first_of(" \t");
        if (space == std::string::npos) return "";
        rest = trim(rest.substr(space));
    }
    return rest;
}

std::string restAfterFirstWord(const std::string& text) { return restAfterWords(text, 1); }

int occurrences(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseInt(const std::string& text, int& value) {
    double d = 0;
    if (!parseNumber(text, d) || d != std::floor(d) || d < -2147483648.0 || d > 2147483647.0) return false;
    value = static_cast<int>(d);
    return true;
}

// Six hexadecimal digits, as in "ff0000".
bool parseColour(const std::string& text, std::array<std::uint8_t, 3>& rgb) {
    if (text.size() != 6 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<std::uint8_t>(std::stoi(text.substr(2 * c, 2), nullptr, 16));
    return true;
}

class Runner {
public:
    explicit Runner(HostState& host) : host_(host) {}

    // False with a message (without the line prefix) on error.
    bool execute(const std::string& text, std::string& error) {
        const auto w = words(text);
        const std::string& verb = w[0];
        auto needArgs = [&](std::size_t min, std::size_t max, const char* usage) {
            if (w.size() - 1 < min || w.size() - 1 > max) {
                error = std::string("usage: ") + usage;
                return false;
            }
            return true;
        };
        auto intArg = [&](std::size_t i, int& out) {
            if (parseInt(w[i], out)) return true;
            error = "'" + w[i] + "' is not a whole number";
            return false;
        };

        if (verb == "wait") {
            double seconds = 0;
            if (!needArgs(1, 1, "wait SECONDS")) return false;
            if (!parseNumber(w[1], seconds) || seconds < 0) {
                error = "'" + w[1] + "' is not a number of seconds";
                return false;
            }
            host_.runFrames(std::llround(seconds * host_.fps()));
            return true;
        }
        if (verb == "wait-focus") {
            double seconds = 0;
            if (!needArgs(2, 2, "wait-focus on|off SECONDS") || (w[1] != "on" && w[1] != "off") ||
                !parseNumber(w[2], seconds) || seconds < 0) {
                error = "usage: wait-focus on|off SECONDS";
                return false;
            }
            // Frames until the plugin's first window holds the keyboard focus (on) or does not
            // (off), at most SECONDS; running out is told in the log, not a script error.
            const bool wanted = w[1] == "on";
            const long long frames = std::llround(seconds * host_.fps());
            auto holds = [&] {
                WindowRecord* panel = host_.panelWindow();
                return panel != nullptr && host_.hasKeyboardFocus(panel);
            };
            for (long long i = 0; holds() != wanted && i < frames && !hostInterruptRequested(); ++i) host_.runFrames(1);
            if (holds() != wanted) host_.hostLine("wait-focus " + w[1] + ": not within " + w[2] + " s");
            return true;
        }
        if (verb == "wait-log") return waitForLog(w, restAfterWords(text, 3), error);
        if (verb == "frames") {
            int n = 0;
            if (!needArgs(1, 1, "frames N") || !intArg(1, n)) return false;
            if (n < 0) {
                error = "frames needs a count of 0 or more";
                return false;
            }
            host_.runFrames(n);
            return true;
        }
        if (verb == "command") {
            if (!needArgs(1, 2, "command NAME [begin|continue|end|once]")) return false;
            const std::string phase = w.size() > 2 ? w[2] : "once";
            XPLMCommandRef ref = host_.findCommand(w[1]);
            if (phase != "begin" && phase != "continue" && phase != "end" && phase != "once") {
                error = "unknown command phase '" + phase + "'";
                return false;
            }
            if (ref == nullptr) {
                host_.hostLine("no command named " + w[1] + "; nothing to run");
                return true;
            }
            if (phase == "begin" || phase == "once") host_.runCommand(ref, xplm_CommandBegin);
            if (phase == "continue") host_.runCommand(ref, xplm_CommandContinue);
            if (phase == "end" || phase == "once") host_.runCommand(ref, xplm_CommandEnd);
            return true;
        }
        if (verb == "hold") {
            double seconds = 0;
            if (!needArgs(2, 2, "hold NAME SECONDS")) return false;
            if (!parseNumber(w[2], seconds) || seconds < 0) {
                error = "'" + w[2] + "' is not a number of seconds";
                return false;
            }
            XPLMCommandRef ref = host_.findCommand(w[1]);
            if (ref == nullptr) {
                host_.hostLine("no command named " + w[1] + "; nothing to hold");
                host_.runFrames(std::llround(seconds * host_.fps()));
                return true;
            }
            // The key goes down, stays down frame after frame, and comes up.
            host_.runCommand(ref, xplm_CommandBegin);
            const long long frames = std::llround(seconds * host_.fps());
            for (long long i = 0; i < frames && !hostInterruptRequested(); ++i) {
                host_.runFrames(1);
                host_.runCommand(ref, xplm_CommandContinue);
            }
            host_.runCommand(ref, xplm_CommandEnd);
            return true;
        }
        if (verb == "menu") {
            const std::string title = restAfterFirstWord(text);
            if (title.empty()) {
                error = "usage: menu ITEM_TITLE";
                return false;
            }
            if (!host_.runMenuItem(title)) host_.hostLine("no menu item titled \"" + title + "\"");
            return true;
        }
        if (verb == "popout") return popout(w, error);
        // The pointer commands below are on the simulator's window.
        if (verb == "press" || verb == "drag" || verb == "release" || verb == "click" || verb == "hover" ||
            verb == "rightclick" || verb == "wheel")
            host_.pointerIn(nullptr);
        if (verb == "press" || verb == "drag" || verb == "release" || verb == "click") {
            int x = 0, y = 0;
            if (!needArgs(2, 2, (verb + " X Y").c_str()) || !intArg(1, x) || !intArg(2, y)) return false;
            if (verb == "press" || verb == "click") host_.pointer(x, y, xplm_MouseDown);
            if (verb == "drag") host_.pointer(x, y, xplm_MouseDrag);
            if (verb == "release" || verb == "click") host_.pointer(x, y, xplm_MouseUp);
            return true;
        }
        if (verb == "hover" && w.size() == 2 && w[1] == "off") {
            host_.hoverOff();
            return true;
        }
        if (verb == "rightclick" || verb == "hover") {
            int x = 0, y = 0;
            if (!needArgs(2, 2, verb == "hover" ? "hover X Y | hover off" : "rightclick X Y") || !intArg(1, x) ||
                !intArg(2, y))
                return false;
            verb == "hover" ? host_.hover(x, y) : host_.rightClick(x, y);
            return true;
        }
        if (verb == "key") {
            // A printable character or a key's name, after any modifiers; the space bar
            // (which the script's words cannot hold) is written as "space".
            const auto stroke = parseKey(restAfterFirstWord(text));
            if (!stroke) {
                error = "usage: key CHAR|NAME, with any of shift+ ctrl+ alt+ before it (CHAR: one printable ASCII "
                        "character; NAME: enter, backspace, delete, escape, tab, left, right, up, down, home, end, "
                        "pageup, pagedown, space)";
                return false;
            }
            host_.key(*stroke);
            return true;
        }
        if (verb == "hold-key") {
            double seconds = 0;
            const auto stroke = w.size() == 3 ? parseKey(w[1]) : std::nullopt;
            if (!stroke || !parseNumber(w[2], seconds) || seconds < 0) {
                error = "usage: hold-key CHAR|NAME SECONDS";
                return false;
            }
            host_.holdKey(*stroke, seconds);
            return true;
        }
        if (verb == "type") {
            // Everything after the word, as typed: the command ends at a ';' or the line's end.
            const auto strokes = typedText(restAfterFirstWord(text));
            if (!strokes || strokes->empty()) {
                error = "usage: type TEXT (printable UTF-8 text)";
                return false;
            }
            host_.typeText(*strokes);
            return true;
        }
        if (verb == "disable" || verb == "enable") {
            if (!needArgs(0, 0, verb.c_str())) return false;
            verb == "disable" ? host_.disablePlugin() : host_.enablePlugin();
            return true;
        }
        if (verb == "wheel") {
            int x = 0, y = 0, clicks = 0;
            if (!needArgs(3, 4, "wheel X Y CLICKS [horizontal]") || !intArg(1, x) || !intArg(2, y) ||
                !intArg(3, clicks)) {
                return false;
            }
            if (w.size() == 5 && w[4] != "horizontal") {
                error = "usage: wheel X Y CLICKS [horizontal]";
                return false;
            }
            host_.wheel(x, y, clicks, w.size() == 5 ? 1 : 0);
            return true;
        }
        if (verb == "message") {
            int message = 0, sender = XPLM_PLUGIN_XPLANE;
            if (!needArgs(1, 2, "message NUMBER [SENDER]") || !intArg(1, message)) return false;
            if (w.size() == 3 && !intArg(2, sender)) return false;
            host_.sendMessage(sender, message);
            return true;
        }
        if (verb == "vr") {
            if (!needArgs(1, 1, "vr on|off") || (w[1] != "on" && w[1] != "off")) {
                error = "usage: vr on|off";
                return false;
            }
            host_.setVr(w[1] == "on");
            return true;
        }
        if (verb == "geometry") {
            int l = 0, t = 0, r = 0, b = 0;
            if (!needArgs(4, 4, "geometry L T R B") || !intArg(1, l) || !intArg(2, t) || !intArg(3, r) ||
                !intArg(4, b)) {
                return false;
            }
            WindowRecord* panel = host_.panelWindow();
            if (panel == nullptr) {
                host_.hostLine("geometry: the plugin has no window");
                return true;
            }
            // As the pilot drags it: a popped-out window on the desktop, in its pixels.
            if (panel->poppedOut()) {
                host_.setOsGeometry(*panel, l, t, r, b, "geometry");
                return true;
            }
            panel->left = l;
            panel->top = t;
            panel->right = r;
            panel->bottom = b;
            return true;
        }
        if (verb == "close") {
            if (!needArgs(0, 0, "close")) return false;
            WindowRecord* panel = host_.panelWindow();
            if (panel == nullptr || !panel->visible || panel->decoration != xplm_WindowDecorationRoundRectangle) {
                host_.hostLine("close: the plugin has no shown window with a close box");
                return true;
            }
            host_.closeBox(*panel);
            return true;
        }
        if (verb == "state") {
            const std::string path = restAfterFirstWord(text);
            if (path.empty()) {
                error = "usage: state FILE";
                return false;
            }
            std::ofstream out(utf8Path(path), std::ios::out | std::ios::trunc | std::ios::binary);
            out << host_.stateJson() << "\n";
            out.close();
            if (!out) {
                error = "cannot write " + path;
                return false;
            }
            return true;
        }
        if (verb == "screenshot") {
            const std::string path = restAfterFirstWord(text);
            if (path.empty()) {
                error = "usage: screenshot FILE";
                return false;
            }
            return host_.screenshot(path, error);
        }
        if (verb == "screenshot-popout") {
            const std::string path = restAfterFirstWord(text);
            if (path.empty()) {
                error = "usage: screenshot-popout FILE";
                return false;
            }
            return host_.screenshotPopout(path, error);
        }
        if (verb == "sun") {
            double degrees = 0;
            if (!needArgs(1, 1, "sun DEGREES") || !parseNumber(w[1], degrees) || degrees < -90 || degrees > 90) {
                error = "usage: sun DEGREES (the sun's height above the horizon, -90 to 90)";
                return false;
            }
            host_.setSunPitch(static_cast<float>(degrees));
            return true;
        }
        if (verb == "watch") {
            int x = 0, y = 0;
            if (w.size() < 4) {
                error = "usage: watch X Y FILE";
                return false;
            }
            if (!intArg(1, x) || !intArg(2, y)) return false;
            return host_.watch(x, y, restAfterWords(text, 3), error);
        }
        if (verb == "until") {
            int x = 0, y = 0;
            double seconds = 0;
            if (!needArgs(4, 4, "until X Y RRGGBB SECONDS") || !intArg(1, x) || !intArg(2, y)) return false;
            std::array<std::uint8_t, 3> rgb{};
            if (!parseColour(w[3], rgb)) {
                error = "'" + w[3] + "' is not a colour RRGGBB";
                return false;
            }
            if (!parseNumber(w[4], seconds) || seconds < 0) {
                error = "'" + w[4] + "' is not a number of seconds";
                return false;
            }
            return host_.runUntilPixel(x, y, rgb, std::llround(seconds * host_.fps()), error);
        }
        if (verb == "unwatch") {
            if (!needArgs(0, 0, "unwatch")) return false;
            if (!host_.unwatch()) host_.hostLine("unwatch: nothing is watched");
            return true;
        }
        if (verb == "reload") {
            if (!needArgs(0, 0, "reload")) return false;
            const std::string path = host_.plugin().path;
            if (path.empty()) {
                error = "reload: no module was loaded";
                return false;
            }
            host_.unloadModule();
            return host_.loadModule(path, error);
        }
        if (verb == "quit") {
            if (!needArgs(0, 0, "quit")) return false;
            host_.unloadModule();
            return true;
        }
        error = "unknown command '" + verb + "'";
        return false;
    }

private:
    // "popout VERB X Y ...": the pointer commands (press, drag, release, click, rightclick, hover,
    // wheel) in the plugin's popped-out window, at pixel (X, Y) of it from its top-left corner.
    bool popout(const std::vector<std::string>& w, std::string& error) {
        const char* usage = "usage: popout press|drag|release|click|rightclick|hover X Y, or popout wheel X Y CLICKS "
                            "[horizontal] (pixels of the popped-out window from its top left)";
        static const std::set<std::string> verbs{"press", "drag", "release", "click", "rightclick", "hover", "wheel"};
        int px = 0, py = 0, clicks = 0;
        if (w.size() < 2 || verbs.count(w[1]) == 0) {
            error = usage;
            return false;
        }
        const bool wheel = w[1] == "wheel";
        const std::size_t words = wheel ? (w.size() == 6 ? 6u : 5u) : 4u;
        if (w.size() != words || !parseInt(w[2], px) || !parseInt(w[3], py) || (wheel && !parseInt(w[4], clicks)) ||
            (w.size() == 6 && w[5] != "horizontal")) {
            error = usage;
            return false;
        }
        WindowRecord* panel = host_.panelWindow();
        if (panel == nullptr || !panel->poppedOut()) {
            host_.hostLine("popout: the plugin has no popped-out window");
            return true;
        }
        // Its pixels, top row first, to its own boxels, y up.
        int l = 0, t = 0, r = 0, b = 0;
        host_.windowGeometry(*panel, l, t, r, b);
        const double scale = host_.options().uiScale;
        const int x = static_cast<int>(std::floor(px / scale));
        const int y = t - static_cast<int>(std::floor(py / scale));
        host_.pointerIn(panel);
        const std::string& verb = w[1];
        if (verb == "press" || verb == "click") host_.pointer(x, y, xplm_MouseDown);
        if (verb == "drag") host_.pointer(x, y, xplm_MouseDrag);
        if (verb == "release" || verb == "click") host_.pointer(x, y, xplm_MouseUp);
        if (verb == "rightclick") host_.rightClick(x, y);
        if (verb == "hover") host_.hover(x, y);
        if (wheel) host_.wheel(x, y, clicks, w.size() == 6 ? 1 : 0);
        return true;
    }

    // "wait-log COUNT SECONDS TEXT": frames until the log holds TEXT COUNT times or more, at
    // most SECONDS; running out is told in the log (without the text, which would count), not a
    // script error.
    bool waitForLog(const std::vector<std::string>& w, const std::string& wanted, std::string& error) {
        int count = 0;
        double seconds = 0;
        if (w.size() < 4 || !parseInt(w[1], count) || count < 1 || !parseNumber(w[2], seconds) || seconds < 0) {
            error = "usage: wait-log COUNT SECONDS TEXT";
            return false;
        }
        const long long frames = std::llround(seconds * host_.fps());
        auto seen = [&] { return occurrences(host_.logText(), wanted) >= count; };
        for (long long i = 0; !seen() && i < frames && !hostInterruptRequested(); ++i) host_.runFrames(1);
        if (!seen()) host_.hostLine("wait-log " + w[1] + ": not within " + w[2] + " s");
        return true;
    }

    HostState& host_;
};

}  // namespace

bool runScript(HostState& host, const std::string& script, std::string& error) {
    Runner runner(host);
    for (const Line& line : splitScript(script)) {
        if (hostInterruptRequested()) {
            error = "interrupted before script line " + std::to_string(line.number);
            return false;
        }
        std::string why;
        if (!runner.execute(line.text, why)) {
            error = "script line " + std::to_string(line.number) + " (" + line.text + "): " + why;
            return false;
        }
    }
    if (hostInterruptRequested()) {
        error = "interrupted";
        return false;
    }
    return true;
}

}  // namespace xpsim
