#include "browser/chromium/cdp_message.h"

#include <climits>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_wire.h"
#include "browser/devtools/focus_channel.h"

namespace cdp {

namespace {

std::string errorText(const nlohmann::json& reply) {
    const auto& error = reply["error"];
    if (error.is_object() && error.contains("message") && error["message"].is_string())
        return error["message"].get<std::string>();
    return "the browser reported an error";
}

std::string stringAt(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) return {};
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

// The command id a reply names. Ours count up from 1 as int; a number beyond int names none of
// them, rather than the one it equals modulo 2^32.
std::optional<int> commandId(const nlohmann::json& id) {
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

// What the page asks of its browser: its dialogs, new windows, downloads.
std::optional<Completion> pageRequestEvent(const std::string& method, const nlohmann::json& message) {
    const auto paramsIt = message.find("params");
    if (paramsIt == message.end() || !paramsIt->is_object()) return std::nullopt;
    const nlohmann::json& params = *paramsIt;
    Completion event;
    event.ok = true;
    if (method == "Page.javascriptDialogOpening") {
        event.type = Completion::Type::DialogOpened;
        event.value = stringAt(params, "type");
        event.text = stringAt(params, "message");
        event.detail = stringAt(params, "defaultPrompt");
    } else if (method == "Page.javascriptDialogClosed") {
        event.type = Completion::Type::DialogClosed;
    } else if (method == "Target.targetCreated" || method == "Target.targetInfoChanged") {
        const auto info = params.find("targetInfo");
        if (info == params.end() || stringAt(*info, "type") != "page") return std::nullopt;
        event.type = Completion::Type::NewPage;
        event.value = stringAt(*info, "targetId");
        event.text = stringAt(*info, "url");
    } else if (method == "Browser.downloadWillBegin") {
        event.type = Completion::Type::Download;
    } else {
        return std::nullopt;
    }
    return event;
}

}  // namespace

bool handleMessage(const std::string& message, PendingRequests& pending, std::optional<Completion>& reply,
                   std::string& lostReason) {
    reply.reset();
    nlohmann::json parsed = nlohmann::json::parse(message, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        lostReason = "the browser sent a message that is not JSON";
        return false;
    }
    if (auto method = stringAt(parsed, "method"); !method.empty()) {
        // We attach to exactly one page; losing it leaves nothing to show.
        if (method == "Target.detachedFromTarget" || method == "Inspector.detached") {
            lostReason = "the page was detached";
            return false;
        }
        if (method == "Inspector.targetCrashed") {
            lostReason = "the page has crashed";
            return false;
        }
        if (method == "Runtime.bindingCalled") {
            if (const auto params = parsed.find("params"); params != parsed.end()) {
                if (const auto takesText = devtools::textFocusReport(*params)) {
                    Completion report;
                    report.type = Completion::Type::TextFocus;
                    report.ok = *takesText;
                    reply = std::move(report);
                }
            }
            return true;
        }
        if (auto event = pageRequestEvent(method, parsed)) {
            reply = std::move(event);
            return true;
        }
        // A frame with a parent is one of the page's inner frames; only the page's own commit
        // replaces what a snapshot is taken of.
        if (method == "Page.frameNavigated") {
            const auto params = parsed.find("params");
            if (params == parsed.end() || !params->is_object()) return true;
            const auto frame = params->find("frame");
            if (frame == params->end() || !frame->is_object() || !stringAt(*frame, "parentId").empty()) return true;
            Completion committed;
            committed.type = Completion::Type::Committed;
            committed.ok = true;
            committed.value = stringAt(*frame, "loaderId");
            reply = std::move(committed);
        }
        return true;
    }
    auto idIt = parsed.find("id");
    if (idIt == parsed.end()) return true;
    const auto id = commandId(*idIt);
    if (!id) return true;
    auto pendingIt = pending.find(*id);
    if (pendingIt == pending.end()) return true;
    const Request request = pendingIt->second.request;
    Completion completion;
    completion.request = request;
    completion.tag = pendingIt->second.tag;
    pending.erase(pendingIt);
    completion.ok = !parsed.contains("error");
    const nlohmann::json empty = nlohmann::json::object();
    const nlohmann::json& result = parsed.contains("result") ? parsed["result"] : empty;
    if (!completion.ok) {
        completion.text = errorText(parsed);
    } else {
        switch (request) {
        case Request::ListTargets:
            if (auto infos = result.find("targetInfos"); infos != result.end() && infos->is_array()) {
                for (const auto& info : *infos) {
                    if (stringAt(info, "type") == "page" && !stringAt(info, "targetId").empty()) {
                        completion.value = stringAt(info, "targetId");
                        break;
                    }
                }
            }
            break;
        case Request::CreateTarget:
            completion.value = stringAt(result, "targetId");
            if (completion.value.empty()) {
                completion.ok = false;
                completion.text = "no target id in the reply";
            }
            break;
        case Request::Attach:
            completion.value = stringAt(result, "sessionId");
            if (completion.value.empty()) {
                completion.ok = false;
                completion.text = "no session id in the reply";
            }
            break;
        case Request::Navigate:
            completion.text = stringAt(result, "errorText");
            completion.value = stringAt(result, "loaderId");
            break;
        case Request::Snapshot: {
            auto data = result.find("data");
            std::vector<std::uint8_t> bytes;
            if (data == result.end() || !data->is_string() ||
                !decodeBase64(data->get_ref<const std::string&>(), bytes) || bytes.empty()) {
                completion.ok = false;
                completion.text = "the snapshot reply holds no image data";
            } else {
                completion.snapshot = PngBuffer(std::move(bytes));
            }
            break;
        }
        default:
            break;
        }
    }
    reply = std::move(completion);
    return true;
}

}  // namespace cdp
