// What `state FILE` writes: the host's holdings at this moment, as JSON.
#include "host_state.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace xpsim {
namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);  // UTF-8 passes through
            }
        }
    }
    return out + "\"";
}

std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

const char* boolean(bool value) { return value ? "true" : "false"; }

const char* cursorName(int status) {
    switch (status) {
    case xplm_CursorDefault: return "default";
    case xplm_CursorHidden: return "hidden";
    case xplm_CursorArrow: return "arrow";
    case xplm_CursorCustom: return "custom";
    default: return "other";
    }
}

}  // namespace

std::string HostState::stateJson() const {
    std::ostringstream out;
    const bool loaded = module_ != nullptr;
    out << "{\"plugin\":{\"name\":" << quoted(loaded ? plugin_.name : "")
        << ",\"signature\":" << quoted(loaded ? plugin_.signature : "")
        << ",\"description\":" << quoted(loaded ? plugin_.description : "")
        << ",\"started\":" << boolean(loaded && plugin_.started)
        << ",\"enabled\":" << boolean(loaded && plugin_.enabled) << "},\n";

    // Windows in creation order.
    std::vector<const WindowRecord*> windows;
    for (const auto& [id, w] : windows_) windows.push_back(w.get());
    std::sort(windows.begin(), windows.end(),
              [](const WindowRecord* a, const WindowRecord* b) { return a->creationOrder < b->creationOrder; });
    out << "\"windows\":[";
    const char* separator = "";
    for (const WindowRecord* w : windows) {
        int l = 0, t = 0, r = 0, b = 0;
        windowGeometry(*w, l, t, r, b);
        out << separator << "\n {\"title\":" << quoted(w->title) << ",\"left\":" << l << ",\"top\":" << t
            << ",\"right\":" << r << ",\"bottom\":" << b << ",\"visible\":" << boolean(w->visible)
            << ",\"positioning_mode\":" << w->positioningMode << ",\"monitor\":" << w->monitor << ",\"gravity\":["
            << number(w->gravity[0]) << "," << number(w->gravity[1]) << "," << number(w->gravity[2]) << ","
            << number(w->gravity[3]) << "],\"in_vr\":" << boolean(windowInVr(*w)) << ",\"layer\":" << w->layer
            << ",\"decoration\":" << w->decoration << ",\"in_front\":" << boolean(windowInFront(*w))
            << ",\"drawn\":" << boolean(w->drawn) << ",\"keyboard_focus\":" << boolean(focused_ == w)
            << ",\"os_geometry\":";
        if (w->poppedOut())
            out << "[" << w->osLeft << "," << w->osTop << "," << w->osRight << "," << w->osBottom << "]";
        else
            out << "null";
        out << "}";
        separator = ",";
    }
    out << "],\n\"commands\":[";
    separator = "";
    for (const auto& command : commands_) {
        out << separator << "\n {\"name\":" << quoted(command->name)
            << ",\"description\":" << quoted(command->description) << ",\"handlers\":" << command->handlers.size()
            << "}";
        separator = ",";
    }
    out << "],\n\"menus\":[";
    separator = "";
    for (const auto& menu : menus_) {
        out << separator << "\n {\"title\":" << quoted(menu->title)
            << ",\"in_menu_bar\":" << boolean(menu->parent == nullptr) << ",\"items\":[";
        const char* itemSeparator = "";
        for (const auto& item : menu->items) {
            out << itemSeparator << quoted(item.title);
            itemSeparator = ",";
        }
        out << "]}";
        separator = ",";
    }
    std::size_t loops = 0;
    for (const auto& loop : flightLoops_) loops += loop->alive ? 1 : 0;
    out << "],\n\"flight_loops\":" << loops << ",\n\"textures\":" << liveTextureCount()
        << ",\n\"cursor\":" << (lastCursor_ < 0 ? std::string("null") : quoted(cursorName(lastCursor_))) << "}";
    return out.str();
}

}  // namespace xpsim
