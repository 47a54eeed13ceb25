#include "browser/chromium/cdp_message.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_wire.h"
#include "browser/devtools/focus_channel.h"

namespace cdp {

namespace {

using nlohmann::json;

std::string stringAt(const json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

// ---- Events: each read from its parameters (an object); false when it is not ours ----

// A frame with a parent is one of the page's inner frames; only the page's own commit
// replaces what a snapshot is taken of.
bool readCommit(const json& params, Completion& c) {
    const auto frame = params.find("frame");
    if (frame == params.end() || !frame->is_object() || !stringAt(*frame, "parentId").empty()) return false;
    c.value = stringAt(*frame, "loaderId");
    return true;
}

bool readFocusReport(const json& params, Completion& c) {
    const auto takesText = devtools::textFocusReport(params);
    c.ok = takesText.value_or(false);
    return takesText.has_value();
}

bool readDialog(const json& params, Completion& c) {
    c.value = stringAt(params, "type");
    c.text = stringAt(params, "message");
    c.detail = stringAt(params, "defaultPrompt");
    return true;
}

bool readPageTarget(const json& params, Completion& c) {
    const auto info = params.find("targetInfo");
    if (info == params.end() || stringAt(*info, "type") != "page") return false;
    c.value = stringAt(*info, "targetId");
    c.text = stringAt(*info, "url");
    return true;
}

// The events we act on, by method name, with what each one yields. A Lost one ends the
// connection for the reason given: we attach to exactly one page, and losing it leaves
// nothing to show.
struct EventEntry {
    std::string_view method;
    Completion::Type type;
    const char* lostReason;
    bool (*read)(const json& params, Completion& event);  // none: there is nothing to read
};
constexpr EventEntry events[] = {
    {"Browser.downloadWillBegin", Completion::Type::Download, nullptr, nullptr},
    {"Inspector.detached", Completion::Type::Lost, "the page was detached", nullptr},
    {"Inspector.targetCrashed", Completion::Type::Lost, "the page has crashed", nullptr},
    {"Page.frameNavigated", Completion::Type::Committed, nullptr, readCommit},
    {"Page.javascriptDialogClosed", Completion::Type::DialogClosed, nullptr, nullptr},
    {"Page.javascriptDialogOpening", Completion::Type::DialogOpened, nullptr, readDialog},
    {"Runtime.bindingCalled", Completion::Type::TextFocus, nullptr, readFocusReport},
    {"Target.detachedFromTarget", Completion::Type::Lost, "the page was detached", nullptr},
    {"Target.targetCreated", Completion::Type::NewPage, nullptr, readPageTarget},
    {"Target.targetInfoChanged", Completion::Type::NewPage, nullptr, readPageTarget},
};

bool readEvent(const std::string& method, const json& message, std::optional<Completion>& reply,
               std::string& lostReason) {
    const auto entry =
        std::find_if(std::begin(events), std::end(events), [&](const EventEntry& e) { return e.method == method; });
    if (entry == std::end(events)) return true;
    if (entry->type == Completion::Type::Lost) {
        lostReason = entry->lostReason;
        return false;
    }
    const auto params = message.find("params");
    if (params == message.end() || !params->is_object()) return true;
    Completion event{.type = entry->type, .ok = true};
    if (entry->read == nullptr || entry->read(*params, event)) reply = std::move(event);
    return true;
}

// ---- Replies to our commands ----

// The command id a reply names. Ours count up from 1 as int; a number beyond int names none of
// them, rather than the one it equals modulo 2^32.
std::optional<int> commandId(const json& id) {
    if (id.is_number_unsigned()) {
        const auto value = id.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(INT_MAX)) return std::nullopt;
        return static_cast<int>(value);
    }
    if (id.is_number_integer()) {
        const auto value = id.get<std::int64_t>();
        if (value < INT_MIN || value > INT_MAX) return std::nullopt;
        return static_cast<int>(value);
    }
    return std::nullopt;
}

std::string errorText(const json& error) {
    if (error.is_object() && error.contains("message") && error["message"].is_string())
        return error["message"].get<std::string>();
    return "the browser reported an error";
}

// What a successful reply carries for the command it answers.
void readResult(const json& result, Completion& c) {
    switch (c.request) {
    case Request::ListTargets:
        if (const auto infos = result.find("targetInfos"); infos != result.end() && infos->is_array()) {
            const auto page = std::find_if(infos->begin(), infos->end(), [](const json& info) {
                return stringAt(info, "type") == "page" && !stringAt(info, "targetId").empty();
            });
            if (page != infos->end()) c.value = stringAt(*page, "targetId");
        }
        break;
    case Request::CreateTarget:
    case Request::Attach:
        // The target or session made, which the reply must name.
        c.value = stringAt(result, c.request == Request::Attach ? "sessionId" : "targetId");
        c.ok = !c.value.empty();
        if (!c.ok) c.text = c.request == Request::Attach ? "no session id in the reply" : "no target id in the reply";
        break;
    case Request::Navigate:
        c.text = stringAt(result, "errorText");
        c.value = stringAt(result, "loaderId");
        break;
    case Request::Snapshot: {
        const auto data = result.find("data");
        std::vector<std::uint8_t> bytes;
        if (data != result.end() && data->is_string() && decodeBase64(data->get_ref<const std::string&>(), bytes) &&
            !bytes.empty()) {
            c.snapshot = PngBuffer(std::move(bytes));
        } else {
            c.ok = false;
            c.text = "the snapshot reply holds no image data";
        }
        break;
    }
    default: break;
    }
}

// The reply to a pending command, taken out of `pending`; nothing for a reply nobody waits for.
std::optional<Completion> readReply(const json& message, PendingRequests& pending) {
    const auto idIt = message.find("id");
    if (idIt == message.end()) return std::nullopt;
    const auto id = commandId(*idIt);
    if (!id) return std::nullopt;
    const auto pendingIt = pending.find(*id);
    if (pendingIt == pending.end()) return std::nullopt;
    Completion completion{.request = pendingIt->second.request, .tag = pendingIt->second.tag};
    pending.erase(pendingIt);
    if (const auto error = message.find("error"); error != message.end()) {
        completion.text = errorText(*error);
        return completion;
    }
    completion.ok = true;
    const json none = json::object();
    const auto result = message.find("result");
    readResult(result != message.end() ? *result : none, completion);
    return completion;
}

}  // namespace

bool handleMessage(const std::string& message, PendingRequests& pending, std::optional<Completion>& reply,
                   std::string& lostReason) {
    reply.reset();
    const json parsed = json::parse(message, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        lostReason = "the browser sent a message that is not JSON";
        return false;
    }
    if (const std::string method = stringAt(parsed, "method"); !method.empty())
        return readEvent(method, parsed, reply, lostReason);
    reply = readReply(parsed, pending);
    return true;
}

}  // namespace cdp
