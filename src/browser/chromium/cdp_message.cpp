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

Completion event(Completion::Type type) {
    Completion c;
    c.type = type;
    c.ok = true;
    return c;
}

// ---- Events, each read from its parameters (an object); nothing when it is not ours ----

// A frame with a parent is one of the page's inner frames; only the page's own commit
// replaces what a snapshot is taken of.
std::optional<Completion> frameNavigated(const json& params) {
    const auto frame = params.find("frame");
    if (frame == params.end() || !frame->is_object() || !stringAt(*frame, "parentId").empty()) return std::nullopt;
    Completion committed = event(Completion::Type::Committed);
    committed.value = stringAt(*frame, "loaderId");
    return committed;
}

std::optional<Completion> bindingCalled(const json& params) {
    const auto takesText = devtools::textFocusReport(params);
    if (!takesText) return std::nullopt;
    Completion report = event(Completion::Type::TextFocus);
    report.ok = *takesText;
    return report;
}

std::optional<Completion> dialogOpening(const json& params) {
    Completion opened = event(Completion::Type::DialogOpened);
    opened.value = stringAt(params, "type");
    opened.text = stringAt(params, "message");
    opened.detail = stringAt(params, "defaultPrompt");
    return opened;
}

std::optional<Completion> dialogClosed(const json&) { return event(Completion::Type::DialogClosed); }

std::optional<Completion> pageTarget(const json& params) {
    const auto info = params.find("targetInfo");
    if (info == params.end() || stringAt(*info, "type") != "page") return std::nullopt;
    Completion page = event(Completion::Type::NewPage);
    page.value = stringAt(*info, "targetId");
    page.text = stringAt(*info, "url");
    return page;
}

std::optional<Completion> downloadWillBegin(const json&) { return event(Completion::Type::Download); }

// The events we act on, by method name. One that names a reason ends the connection: we attach
// to exactly one page, and losing it leaves nothing to show.
struct EventEntry {
    std::string_view method;
    const char* ends;
    std::optional<Completion> (*read)(const json& params);
};
constexpr EventEntry events[] = {
    {"Browser.downloadWillBegin", nullptr, downloadWillBegin},
    {"Inspector.detached", "the page was detached", nullptr},
    {"Inspector.targetCrashed", "the page has crashed", nullptr},
    {"Page.frameNavigated", nullptr, frameNavigated},
    {"Page.javascriptDialogClosed", nullptr, dialogClosed},
    {"Page.javascriptDialogOpening", nullptr, dialogOpening},
    {"Runtime.bindingCalled", nullptr, bindingCalled},
    {"Target.detachedFromTarget", "the page was detached", nullptr},
    {"Target.targetCreated", nullptr, pageTarget},
    {"Target.targetInfoChanged", nullptr, pageTarget},
};

bool readEvent(const std::string& method, const json& message, std::optional<Completion>& reply,
               std::string& lostReason) {
    const auto entry = std::find_if(std::begin(events), std::end(events),
                                    [&](const EventEntry& e) { return e.method == method; });
    if (entry == std::end(events)) return true;
    if (entry->ends != nullptr) {
        lostReason = entry->ends;
        return false;
    }
    const auto params = message.find("params");
    if (params != message.end() && params->is_object()) reply = entry->read(*params);
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

// A reply that must name what it made: failed when it does not.
void requireValue(Completion& c, std::string value, const char* missing) {
    c.value = std::move(value);
    if (!c.value.empty()) return;
    c.ok = false;
    c.text = missing;
}

std::string firstPageTarget(const json& result) {
    const auto infos = result.find("targetInfos");
    if (infos == result.end() || !infos->is_array()) return {};
    for (const auto& info : *infos) {
        if (stringAt(info, "type") == "page" && !stringAt(info, "targetId").empty()) return stringAt(info, "targetId");
    }
    return {};
}

void readSnapshot(const json& result, Completion& c) {
    const auto data = result.find("data");
    std::vector<std::uint8_t> bytes;
    if (data == result.end() || !data->is_string() || !decodeBase64(data->get_ref<const std::string&>(), bytes) ||
        bytes.empty()) {
        c.ok = false;
        c.text = "the snapshot reply holds no image data";
    } else {
        c.snapshot = PngBuffer(std::move(bytes));
    }
}

// What a successful reply carries for the command it answers.
void readResult(const json& result, Completion& c) {
    switch (c.request) {
    case Request::ListTargets:
        c.value = firstPageTarget(result);
        break;
    case Request::CreateTarget:
        requireValue(c, stringAt(result, "targetId"), "no target id in the reply");
        break;
    case Request::Attach:
        requireValue(c, stringAt(result, "sessionId"), "no session id in the reply");
        break;
    case Request::Navigate:
        c.text = stringAt(result, "errorText");
        c.value = stringAt(result, "loaderId");
        break;
    case Request::Snapshot:
        readSnapshot(result, c);
        break;
    default:
        break;
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
    Completion completion;
    completion.request = pendingIt->second.request;
    completion.tag = pendingIt->second.tag;
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
