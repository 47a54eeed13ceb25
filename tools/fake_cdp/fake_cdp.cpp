// fake_cdp: answers the DevTools commands the Linux backend sends, over the same pipe a real
// browser uses (commands on fd 3, replies on fd 4, each JSON message ended by a NUL byte).
// Tests name it as "BrowserPath".
//
// It is told what to do through two files named in the environment it inherits:
//   CV_FAKE_CDP_LOG   first a line "argv <arguments...>", then every command received as one
//                     line: "<method> <params>" (plus " session=<id>" for page commands),
//                     each written at once;
//   CV_FAKE_CDP_CUES  optional lines of cues; N counts the page's pictures from 1, snapshot
//                     requests and screencast frames alike, "N+" means that picture and every
//                     later one. A line "browser K: CUE" is obeyed
//                     only by the K-th browser started with these cues (counted by the
//                     "argv" lines in the log), the others ignore it:
//     size W H            snapshots are W x H pixels (otherwise the clip asked for at the
//                         emulated device scale: 768 x 512 at any zoom, twice that at scale 2)
//     fail N[+]           the snapshot gets an error reply; the frame is not sent
//     hang N[+]           the snapshot is never answered; the frame is not sent
//     late N[+] SECONDS   the snapshot or frame is sent SECONDS after it was due; the fake
//                         goes on answering everything else meanwhile. A clipped snapshot's
//                         answer puts back the device metrics it was asked under, as Chromium's
//                         does (logged as "metrics put back: device scale S")
//     garbage-png N[+]    the picture's data is valid base64 of bytes that are no PNG
//     garbage-frame N     instead of the reply or frame, bytes that are not JSON
//     exit N              the process exits when the picture is requested or due
//     no-page             Target.getTargets lists no page (the backend must create one)
//     refuse METHOD       every METHOD command gets an error reply
//     ignore-close        Browser.close is logged but not obeyed
//     exit-at-start CODE  the process exits with CODE before reading any command
//     silent              commands are read and logged, and none is answered
//     navigate-takes SECONDS  Page.navigate is answered SECONDS after it was asked for, and,
//                         as in Chromium, a snapshot asked for meanwhile is never answered
//                         (logged as "a snapshot asked for during a navigation is lost")
//     held-until-navigation N[+]  the snapshot is not answered until the next navigation
//                         commits, and then, as Chromium often does, never
//     page-navigates N    when the snapshot is asked for, the page commits a navigation of its
//                         own (a clicked link, say), and the snapshot is never answered
//     lock-profile        it takes the profile's lock as Chromium does (below), and gives it
//                         up when it is closed
//     text-field L T R B  the page has a text field over that rectangle of CSS pixels: after
//                         each left-button release it reports, as the page's focus script
//                         does, whether the focus takes text (the release was inside; input
//                         positions count in the view the page is scaled into, as in
//                         Chromium: CSS pixels times the override's "scale")
//     exit-on-text TEXT   the process exits when Input.insertText brings TEXT
//     dialog N KIND [TEXT]  when the snapshot is asked for, the page opens a dialog of KIND
//                         (alert, confirm, prompt or beforeunload) with the message TEXT
//                         (Page.javascriptDialogOpening). As in Chromium the page is blocked:
//                         that snapshot, and any asked for meanwhile, is answered only after
//                         Page.handleJavaScriptDialog, which is followed by
//                         Page.javascriptDialogClosed
//     dialog-default TEXT a prompt's default text
//     leave-question      the page asks before it is left: every Page.navigate after the
//                         first opens a beforeunload dialog, and is answered once that is (a
//                         navigation the answer cancels gets the error text net::ERR_ABORTED)
//     new-window N URL [OPENER]  when the snapshot is asked for, a new window opens: once
//                         Target.setDiscoverTargets has been received, Target.targetCreated
//                         tells of a page target FAKE-WINDOW-N without an address, then, as
//                         in Chromium once its first page commits, Target.targetInfoChanged
//                         of it at URL (about:blank for a window left blank). Its openerId is
//                         our page's target, or OPENER ("none": no openerId, as for a window
//                         the pilot opened). Several may be given, one per snapshot
//     download N          when the snapshot is asked for, the page starts a download
//                         (Browser.downloadWillBegin)
//     screencast-refused  Page.startScreencast gets an error reply
//     screencast-silent   Page.startScreencast is accepted, and no frame is ever sent
//     screencast-hidden@N after the N-th frame of the screencast, Page.screencastVisibilityChanged
//                         tells the page is not visible, and no further frame is sent
//     animate [N]         the page paints all the time: each acknowledgement is followed by a
//                         frame of a new picture at once. With N, it paints until its N-th
//                         picture and then stands still: no frame follows an acknowledgement, and
//                         a picture asked for is the last one again (logged as "the same picture
//                         N"), without the cues of a new one
//
// The screencast: once Page.startScreencast is accepted (told with visibility true, as
// Chromium does), a Page.screencastFrame is sent each time the page's picture changes (at the
// start, after each load, and on "animate"), but none while one is unacknowledged nor while a
// dialog blocks the page; changes meanwhile make one frame later. Frames are PNGs (whatever
// format was asked) of the picture's maxWidth x maxHeight, each logged as
// "screencast-frame N WxH" (N counting pictures as above). Page.stopScreencast ends it.
//
// As in Chromium, a navigation commits just after Page.navigate is answered; once Page.enable
// has been received, each commit is told with a Page.frameNavigated event for the main frame,
// followed by the page's Page.loadEventFired.
//
// Like Chromium, it exits at once with status 21 when the folder named by --user-data-dir
// holds a SingletonLock link to "<this host>-<pid of a running process>": the profile is
// in use. It takes that lock itself only on the "lock-profile" cue.
//
// Pictures show a grey background whose level is 40 * n mod 256 for the n-th picture,
// with solid marks in the corners: red top-left, green top-right, blue bottom-left,
// yellow bottom-right, each 32 x 32 pixels.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <chrono>

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace {

struct Cue {
    int from = 0;  // 0: not set
    bool onward = false;
    bool matches(int n) const { return from > 0 && (onward ? n >= from : n == from); }
};

struct NewWindow {
    Cue at;
    std::string url;
    std::string opener;  // empty: our page
};

struct Cues {
    int width = 768, height = 512;
    Cue fail, hang, late, garbagePng, garbageFrame, exitAt, heldUntilNavigation, pageNavigates;
    double lateSeconds = 0;
    double navigateSeconds = 0;
    bool noPage = false;
    bool ignoreClose = false;
    bool silent = false;
    bool lockProfile = false;
    int exitAtStart = -1;
    std::set<std::string> refused;
    bool textField = false;
    double fieldLeft = 0, fieldTop = 0, fieldRight = 0, fieldBottom = 0;
    std::string exitOnText;
    Cue dialogAt, downloadAt;
    std::string dialogKind, dialogText, dialogDefault;
    std::vector<NewWindow> newWindows;
    bool leaveQuestion = false;
    bool sizeGiven = false;
    bool screencastRefused = false, screencastSilent = false, animate = false;
    int animateUntil = 0;  // 0: for ever
    Cue screencastHidden;
};

Cue parseCue(const std::string& text) {
    Cue cue;
    cue.onward = !text.empty() && text.back() == '+';
    cue.from = std::atoi(text.c_str());
    return cue;
}

// Which browser this is among those started with the same log: the number of "argv" lines
// in it, this one's included.
int browserNumber() {
    const char* path = std::getenv("CV_FAKE_CDP_LOG");
    if (path == nullptr) return 1;
    std::ifstream in(path);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.rfind("argv", 0) == 0 ? 1 : 0;
    return n;
}

Cues readCues() {
    Cues cues;
    const char* path = std::getenv("CV_FAKE_CDP_CUES");
    if (path == nullptr) return cues;
    std::ifstream in(path);
    const int browser = browserNumber();
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        words >> key;
        if (key == "browser") {
            std::string number;
            words >> number;
            if (std::atoi(number.c_str()) != browser) continue;
            words >> key;
        }
        words >> value;
        if (key == "size") {
            cues.sizeGiven = true;
            cues.width = std::atoi(value.c_str());
            words >> cues.height;
        } else if (key == "fail") {
            cues.fail = parseCue(value);
        } else if (key == "hang") {
            cues.hang = parseCue(value);
        } else if (key == "late") {
            cues.late = parseCue(value);
            words >> cues.lateSeconds;
        } else if (key == "garbage-png") {
            cues.garbagePng = parseCue(value);
        } else if (key == "garbage-frame") {
            cues.garbageFrame = parseCue(value);
        } else if (key == "exit") {
            cues.exitAt = parseCue(value);
        } else if (key == "no-page") {
            cues.noPage = true;
        } else if (key == "refuse") {
            cues.refused.insert(value);
        } else if (key == "ignore-close") {
            cues.ignoreClose = true;
        } else if (key == "navigate-takes") {
            cues.navigateSeconds = std::atof(value.c_str());
        } else if (key == "silent") {
            cues.silent = true;
        } else if (key == "lock-profile") {
            cues.lockProfile = true;
        } else if (key == "exit-at-start") {
            cues.exitAtStart = std::atoi(value.c_str());
        } else if (key == "text-field") {
            cues.textField = true;
            cues.fieldLeft = std::atof(value.c_str());
            words >> cues.fieldTop >> cues.fieldRight >> cues.fieldBottom;
        } else if (key == "exit-on-text") {
            cues.exitOnText = value;
        } else if (key == "dialog") {
            cues.dialogAt = parseCue(value);
            words >> cues.dialogKind;
            std::getline(words >> std::ws, cues.dialogText);
        } else if (key == "dialog-default") {
            cues.dialogDefault = line.substr(line.find(value));
        } else if (key == "leave-question") {
            cues.leaveQuestion = true;
        } else if (key == "new-window") {
            NewWindow& window = cues.newWindows.emplace_back();
            window.at = parseCue(value);
            words >> window.url >> window.opener;
        } else if (key == "download") {
            cues.downloadAt = parseCue(value);
        } else if (key == "held-until-navigation") {
            cues.heldUntilNavigation = parseCue(value);
        } else if (key == "page-navigates") {
            cues.pageNavigates = parseCue(value);
        } else if (key == "screencast-refused") {
            cues.screencastRefused = true;
        } else if (key == "screencast-silent") {
            cues.screencastSilent = true;
        } else if (key.rfind("screencast-hidden@", 0) == 0) {
            cues.screencastHidden = parseCue(key.substr(key.find('@') + 1));
        } else if (key == "animate") {
            cues.animate = true;
            cues.animateUntil = std::atoi(value.c_str());
        }
    }
    return cues;
}

int logFd = -1;

void logLine(const std::string& line) {
    if (logFd < 0) return;
    std::string text = line + "\n";
    // One write per line on an O_APPEND file: a reader never sees half a line.
    [[maybe_unused]] auto n = ::write(logFd, text.data(), text.size());
}

void writeAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(4, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) std::_Exit(1);
        done += static_cast<std::size_t>(n);
    }
}

void sendMessage(const nlohmann::json& message) { writeAll(message.dump() + std::string(1, '\0')); }

std::vector<std::uint8_t> makePng(int width, int height, int n) {
    const auto grey = static_cast<std::uint8_t>((40 * n) % 256);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
    const int mark = 32;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool left = x < mark, right = x >= width - mark, top = y < mark, bottom = y >= height - mark;
            std::uint8_t r = grey, g = grey, b = grey;
            if (top && left)
                r = 255, g = 0, b = 0;
            else if (top && right)
                r = 0, g = 255, b = 0;
            else if (bottom && left)
                r = 0, g = 0, b = 255;
            else if (bottom && right)
                r = 255, g = 255, b = 0;
            p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::vector<std::uint8_t> png(size);
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr)) return {};
    png.resize(size);
    return png;
}

std::string base64(const std::vector<std::uint8_t>& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= bytes[i + 2];
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[v & 63] : '=';
    }
    return out;
}

// Pictures repeat with their grey level (40 * n mod 256 takes 32 values), so each is encoded
// once per size: soaks ask for thousands, and the fake must not be what sets their pace.
const std::string& snapshotData(int width, int height, int n) {
    static std::map<std::tuple<int, int, int>, std::string> encoded;
    const int grey = (40 * n) % 256;
    const auto key = std::make_tuple(width, height, grey);
    auto it = encoded.find(key);
    if (it == encoded.end()) it = encoded.emplace(key, base64(makePng(width, height, n))).first;
    return it->second;
}

std::string profileFolder(int argc, char** argv) {
    const std::string option = "--user-data-dir=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(option, 0) == 0) return arg.substr(option.size());
    }
    return {};
}

std::string hostName() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return host;
}

// Chromium's own profile lock: a link "<host>-<pid>" naming a live process here.
bool profileInUse(const std::string& profile) {
    if (profile.empty()) return false;
    char target[512] = {};
    if (::readlink((profile + "/SingletonLock").c_str(), target, sizeof target - 1) <= 0) return false;
    const std::string holder = target;
    const std::size_t dash = holder.rfind('-');
    if (dash == std::string::npos || holder.substr(0, dash) != hostName()) return false;
    const int pid = std::atoi(holder.c_str() + dash + 1);
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// Takes the lock over, as Chromium does when its holder is gone.
void lockProfile(const std::string& profile) {
    const std::string lock = profile + "/SingletonLock";
    ::unlink(lock.c_str());
    [[maybe_unused]] int made = ::symlink((hostName() + "-" + std::to_string(::getpid())).c_str(), lock.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (const char* path = std::getenv("CV_FAKE_CDP_LOG")) logFd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::string args = "argv";
    for (int i = 1; i < argc; ++i) args += std::string(" ") + argv[i];
    logLine(args);
    const std::string profile = profileFolder(argc, argv);
    if (profileInUse(profile)) return 21;
    const Cues cues = readCues();
    if (cues.exitAtStart >= 0) return cues.exitAtStart;
    if (cues.lockProfile && !profile.empty()) lockProfile(profile);
    const std::string targetId = "FAKE-TARGET-1";
    const std::string sessionId = "FAKE-SESSION-1";
    int snapshots = 0;  // the page's pictures: snapshots asked for and frames due

    using Clock = std::chrono::steady_clock;
    // A snapshot is its clip at the emulated device scale, as in Chromium.
    double deviceScale = 1.0;
    // Input positions are in the view the page is scaled into, as in Chromium.
    double viewScale = 1.0;
    int visibleWidth = 0, visibleHeight = 0;  // set apart by Emulation.setVisibleSize
    // The screencast: a frame when the picture has changed, the next once the last is acknowledged.
    bool casting = false, frameOut = false, changed = false, hidden = false;
    int castWidth = cues.width, castHeight = cues.height;
    int frames = 0, lastFrameId = 0;
    // What "late" and "navigate-takes" hold back: replies, and commits.
    std::vector<std::pair<Clock::time_point, std::function<void()>>> delayed;
    Clock::time_point navigatingUntil;
    // Snapshots held by "held-until-navigation": dropped, unanswered, at the next commit.
    int heldSnapshots = 0;
    bool pageEnabled = false;
    int loaders = 0;
    auto commit = [&](const std::string& loader) {
        if (heldSnapshots > 0) logLine("dropped " + std::to_string(heldSnapshots) + " snapshot(s) at a commit");
        heldSnapshots = 0;
        if (!pageEnabled) return;
        sendMessage({{"method", "Page.frameNavigated"},
                     {"params",
                      {{"frame", {{"id", "FAKE-FRAME"}, {"loaderId", loader}, {"url", "https://panel.example/"}}},
                       {"type", "Navigation"}}},
                     {"sessionId", sessionId}});
        sendMessage({{"method", "Page.loadEventFired"}, {"params", {{"timestamp", 1.0}}}, {"sessionId", sessionId}});
        changed = true;
    };

    // An open dialog blocks the page: what waits for its answer is run with it (true: accepted).
    bool dialogOpen = false;
    std::vector<std::function<void(bool)>> afterDialog;
    auto openDialog = [&](const std::string& kind, const std::string& text) {
        dialogOpen = true;
        sendMessage({{"method", "Page.javascriptDialogOpening"},
                     {"params",
                      {{"url", "https://panel.example/"},
                       {"message", text},
                       {"type", kind},
                       {"hasBrowserHandler", false},
                       {"defaultPrompt", kind == "prompt" ? cues.dialogDefault : ""}}},
                     {"sessionId", sessionId}});
    };
    bool discovering = false;
    int navigations = 0;

    // What the page does when its n-th picture is asked for or due. False: the fake exits.
    auto pictureEvents = [&](int n) {
        if (cues.exitAt.matches(n)) return false;
        if (cues.downloadAt.matches(n))
            sendMessage({{"method", "Browser.downloadWillBegin"},
                         {"params",
                          {{"frameId", "FAKE-FRAME"},
                           {"guid", "FAKE-DOWNLOAD"},
                           {"url", "https://panel.example/flight.csv"},
                           {"suggestedFilename", "flight.csv"}}}});
        for (const NewWindow& window : cues.newWindows) {
            if (!window.at.matches(n) || !discovering) continue;
            const std::string id = "FAKE-WINDOW-" + std::to_string(n);
            nlohmann::json info = {{"targetId", id}, {"type", "page"}, {"title", ""}, {"url", ""}, {"attached", false}};
            if (window.opener != "none") info["openerId"] = window.opener.empty() ? targetId : window.opener;
            sendMessage({{"method", "Target.targetCreated"}, {"params", {{"targetInfo", info}}}});
            info["url"] = window.url;
            sendMessage({{"method", "Target.targetInfoChanged"}, {"params", {{"targetInfo", info}}}});
        }
        if (cues.dialogAt.matches(n) && !dialogOpen) openDialog(cues.dialogKind, cues.dialogText);
        return true;
    };
    auto later = [&](double seconds, std::function<void()> action) {
        const auto after = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        delayed.emplace_back(Clock::now() + after, std::move(action));
    };
    // The next frame of the screencast, when one is due. False: the fake exits.
    auto offerFrame = [&] {
        if (!casting || hidden || frameOut || !changed || dialogOpen || cues.screencastSilent) return true;
        changed = false;
        const int n = ++snapshots;
        if (!pictureEvents(n)) return false;
        if (cues.pageNavigates.matches(n)) {
            logLine("the page navigates");
            commit("FAKE-LOADER-PAGE-" + std::to_string(n));
        }
        // A blocked page paints once its dialog is answered.
        if (dialogOpen) changed = true;
        if (dialogOpen || cues.hang.matches(n) || cues.fail.matches(n) || cues.heldUntilNavigation.matches(n) ||
            cues.pageNavigates.matches(n))
            return true;
        if (cues.garbageFrame.matches(n)) {
            writeAll(std::string("this is not JSON {{{") + std::string(1, '\0'));
            return true;
        }
        const std::vector<std::uint8_t> junk(4096, 0x5a);
        const nlohmann::json frame = {
            {"method", "Page.screencastFrame"},
            {"params",
             {{"data", cues.garbagePng.matches(n) ? base64(junk) : snapshotData(castWidth, castHeight, n)},
              {"metadata",
               {{"offsetTop", 0},
                {"pageScaleFactor", 1},
                {"deviceWidth", castWidth},
                {"deviceHeight", castHeight},
                {"scrollOffsetX", 0},
                {"scrollOffsetY", 0}}},
              {"sessionId", ++lastFrameId}}},
            {"sessionId", sessionId}};
        frameOut = true;
        logLine("screencast-frame " + std::to_string(n) + " " + std::to_string(castWidth) + "x" +
                std::to_string(castHeight));
        if (cues.late.matches(n))
            later(cues.lateSeconds, [frame] { sendMessage(frame); });
        else
            sendMessage(frame);
        if (cues.screencastHidden.matches(++frames)) {
            hidden = true;
            sendMessage({{"method", "Page.screencastVisibilityChanged"},
                         {"params", {{"visible", false}}},
                         {"sessionId", sessionId}});
        }
        return true;
    };

    std::string buffer;
    char chunk[65536];
    for (;;) {
        if (!offerFrame()) return 0;
        // Held-back replies go out when due, between reads; what they change is looked at at once.
        int timeoutMs = -1;
        bool ran = false;
        for (auto it = delayed.begin(); it != delayed.end();) {
            const auto now = Clock::now();
            if (it->first <= now) {
                const auto action = std::move(it->second);
                it = delayed.erase(it);
                action();
                ran = true;
                continue;
            }
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(it->first - now).count();
            if (timeoutMs < 0 || wait < timeoutMs) timeoutMs = static_cast<int>(wait);
            ++it;
        }
        if (ran) timeoutMs = 0;
        pollfd commands{3, POLLIN, 0};
        const int ready = ::poll(&commands, 1, timeoutMs);
        if (ready < 0 && errno != EINTR) return 1;
        if (ready <= 0) continue;
        const ssize_t n = ::read(3, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0;  // the backend closed its end
        buffer.append(chunk, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = buffer.find('\0')) != std::string::npos) {
            const std::string text = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            const auto command = nlohmann::json::parse(text, nullptr, false);
            if (command.is_discarded() || !command.contains("id") || !command.contains("method")) {
                logLine("unparsable " + text);
                continue;
            }
            const std::string method = command["method"].get<std::string>();
            const nlohmann::json params = command.value("params", nlohmann::json::object());
            std::string line = method + " " + params.dump();
            if (command.contains("sessionId")) line += " session=" + command["sessionId"].get<std::string>();
            logLine(line);
            if (cues.silent) continue;

            nlohmann::json reply = {{"id", command["id"]}};
            if (command.contains("sessionId")) reply["sessionId"] = command["sessionId"];
            if (cues.refused.count(method) != 0) {
                reply["error"] = {{"code", -32000}, {"message", "refused by the fake"}};
                sendMessage(reply);
                continue;
            }
            if (method == "Target.getTargets") {
                nlohmann::json infos = nlohmann::json::array();
                infos.push_back({{"targetId", "FAKE-BROWSER"}, {"type", "browser"}, {"url", ""}});
                if (!cues.noPage) infos.push_back({{"targetId", targetId}, {"type", "page"}, {"url", "about:blank"}});
                reply["result"] = {{"targetInfos", infos}};
            } else if (method == "Target.createTarget") {
                reply["result"] = {{"targetId", targetId}};
            } else if (method == "Target.attachToTarget") {
                sendMessage({{"method", "Target.attachedToTarget"},
                             {"params", {{"sessionId", sessionId}, {"waitingForDebugger", false}}}});
                reply["result"] = {{"sessionId", sessionId}};
            } else if (method == "Page.enable") {
                pageEnabled = true;
                reply["result"] = nlohmann::json::object();
            } else if (method == "Page.navigate") {
                const std::string loader = "FAKE-LOADER-" + std::to_string(++loaders);
                reply["result"] = {{"frameId", "FAKE-FRAME"}, {"loaderId", loader}};
                auto answerAndCommit = [&, reply, loader] {
                    sendMessage(reply);
                    commit(loader);
                };
                if (cues.leaveQuestion && ++navigations > 1 && !dialogOpen) {
                    openDialog("beforeunload", "");
                    afterDialog.push_back([&, reply, answerAndCommit](bool leave) {
                        if (leave) return answerAndCommit();
                        nlohmann::json cancelled = reply;
                        cancelled["result"] = {{"frameId", "FAKE-FRAME"}, {"errorText", "net::ERR_ABORTED"}};
                        sendMessage(cancelled);
                    });
                    continue;
                }
                if (cues.navigateSeconds > 0) {
                    navigatingUntil = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(cues.navigateSeconds));
                    delayed.emplace_back(navigatingUntil, answerAndCommit);
                } else {
                    answerAndCommit();
                }
                continue;
            } else if (method == "Page.handleJavaScriptDialog") {
                if (!dialogOpen) {
                    reply["error"] = {{"code", -32602}, {"message", "No dialog is showing"}};
                    sendMessage(reply);
                    continue;
                }
                dialogOpen = false;
                const bool accepted = params.value("accept", false);
                reply["result"] = nlohmann::json::object();
                sendMessage(reply);
                sendMessage({{"method", "Page.javascriptDialogClosed"},
                             {"params", {{"result", accepted}, {"userInput", params.value("promptText", "")}}},
                             {"sessionId", sessionId}});
                auto waiting = std::move(afterDialog);
                afterDialog.clear();
                for (auto& action : waiting) action(accepted);
                continue;
            } else if (method == "Target.setDiscoverTargets") {
                discovering = params.value("discover", false);
                reply["result"] = nlohmann::json::object();
            } else if (method == "Page.captureScreenshot") {
                if (cues.animateUntil > 0 && snapshots >= cues.animateUntil) {
                    logLine("the same picture " + std::to_string(snapshots));
                    const int width = visibleWidth > 0 ? visibleWidth : cues.width;
                    const int height = visibleWidth > 0 ? visibleHeight : cues.height;
                    reply["result"] = {{"data", snapshotData(width, height, snapshots)}};
                    sendMessage(reply);
                    continue;
                }
                if (!pictureEvents(++snapshots)) return 0;
                if (Clock::now() < navigatingUntil) {
                    logLine("a snapshot asked for during a navigation is lost");
                    continue;
                }
                if (cues.hang.matches(snapshots)) continue;
                if (cues.heldUntilNavigation.matches(snapshots)) {
                    ++heldSnapshots;
                    continue;
                }
                if (cues.pageNavigates.matches(snapshots)) {
                    ++heldSnapshots;
                    logLine("the page navigates");
                    commit("FAKE-LOADER-PAGE-" + std::to_string(snapshots));
                    continue;
                }
                if (cues.garbageFrame.matches(snapshots)) {
                    writeAll(std::string("this is not JSON {{{") + std::string(1, '\0'));
                    continue;
                }
                if (cues.fail.matches(snapshots)) {
                    reply["error"] = {{"code", -32000}, {"message", "Unable to capture screenshot"}};
                } else if (cues.garbagePng.matches(snapshots)) {
                    const std::vector<std::uint8_t> junk(4096, 0x5a);
                    reply["result"] = {{"data", base64(junk)}};
                } else {
                    int width = cues.width, height = cues.height;
                    const auto clip = params.value("clip", nlohmann::json::object());
                    if (!cues.sizeGiven && !clip.contains("width") && visibleWidth > 0) {
                        width = visibleWidth;
                        height = visibleHeight;
                    } else if (!cues.sizeGiven && clip.contains("width") && clip.contains("height")) {
                        const double scale = clip.value("scale", 1.0) * deviceScale;
                        width = static_cast<int>(std::lround(clip["width"].get<double>() * scale));
                        height = static_cast<int>(std::lround(clip["height"].get<double>() * scale));
                    }
                    reply["result"] = {{"data", snapshotData(width, height, snapshots)}};
                }
                // As in Chromium, a clipped picture is taken under an emulation of its own, and
                // its answer puts back the metrics it began under: any set meanwhile are undone.
                const auto answer = [&, reply, clipped = params.contains("clip"), began = deviceScale,
                                     beganView = viewScale] {
                    if (clipped && (deviceScale != began || viewScale != beganView)) {
                        deviceScale = began;
                        viewScale = beganView;
                        logLine("metrics put back: device scale " + std::to_string(began));
                    }
                    sendMessage(reply);
                };
                if (dialogOpen) {
                    afterDialog.push_back([answer](bool) { answer(); });
                    continue;
                }
                if (cues.late.matches(snapshots)) {
                    later(cues.lateSeconds, answer);
                    continue;
                }
            } else if (method == "Emulation.setDeviceMetricsOverride") {
                deviceScale = params.value("deviceScaleFactor", 1.0);
                viewScale = params.value("scale", 1.0);
                reply["result"] = nlohmann::json::object();
            } else if (method == "Emulation.setVisibleSize") {
                visibleWidth = params.value("width", 0);
                visibleHeight = params.value("height", 0);
                reply["result"] = nlohmann::json::object();
            } else if (method == "Page.startScreencast") {
                if (cues.screencastRefused) {
                    reply["error"] = {{"code", -32000}, {"message", "refused by the fake"}};
                    sendMessage(reply);
                    continue;
                }
                casting = changed = true;
                frameOut = false;
                castWidth = params.value("maxWidth", cues.width);
                castHeight = params.value("maxHeight", cues.height);
                reply["result"] = nlohmann::json::object();
                sendMessage(reply);
                if (!hidden)
                    sendMessage({{"method", "Page.screencastVisibilityChanged"},
                                 {"params", {{"visible", true}}},
                                 {"sessionId", sessionId}});
                continue;
            } else if (method == "Page.stopScreencast") {
                casting = changed = false;
                reply["result"] = nlohmann::json::object();
            } else if (method == "Page.screencastFrameAck") {
                // The latest frame's acknowledgement lets the next go; an earlier one changes nothing.
                const int acked = params.value("sessionId", -1);
                if (acked <= 0 || acked > lastFrameId) logLine("acknowledged a frame never sent");
                if (acked == lastFrameId && frameOut) {
                    frameOut = false;
                    if (cues.animate && casting && (cues.animateUntil == 0 || snapshots < cues.animateUntil))
                        changed = true;
                }
                reply["result"] = nlohmann::json::object();
            } else if (method == "Input.dispatchMouseEvent" && cues.textField &&
                       params.value("type", "") == "mouseReleased") {
                const double x = params.value("x", -1.0) / viewScale, y = params.value("y", -1.0) / viewScale;
                const bool inside =
                    x >= cues.fieldLeft && x < cues.fieldRight && y >= cues.fieldTop && y < cues.fieldBottom;
                reply["result"] = nlohmann::json::object();
                sendMessage(reply);
                sendMessage(
                    {{"method", "Runtime.bindingCalled"},
                     {"params", {{"name", "cvTextFocus"}, {"payload", inside ? "1" : "0"}, {"executionContextId", 1}}},
                     {"sessionId", sessionId}});
                continue;
            } else if (method == "Input.insertText" && !cues.exitOnText.empty() &&
                       params.value("text", "") == cues.exitOnText) {
                return 0;
            } else if (method == "Browser.close") {
                if (cues.ignoreClose) continue;
                if (cues.lockProfile && !profile.empty()) ::unlink((profile + "/SingletonLock").c_str());
                reply["result"] = nlohmann::json::object();
                sendMessage(reply);
                return 0;
            } else {
                reply["result"] = nlohmann::json::object();
            }
            sendMessage(reply);
        }
    }
}
