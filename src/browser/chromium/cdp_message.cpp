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

// A frame is acknowledged by its number, even one whose image is unusable: an unacknowledged
// frame stops the browser sending more. Without a number it cannot be, and is passed over.
bool readFrame(const json& params, Completion& c) {
    const auto number = params.find("sessionId");
    if (number == params.end() || !number->is_number_unsigned()) return false;
    c.tag = number->get<std::uint64_t>();
    const auto data = params.find("data");
    std::vector<std::uint8_t> bytes;
    c.ok = data != params.end() && data->is_string() && decodeBase64(data->get_ref<const std::string&>(), bytes) &&
           !bytes.empty();
    if (c.ok) c.snapshot = PngBuffer(std::move(bytes));
    return true;
}

bool readHidden(const json& params, Completion&) {
    const auto visible = params.find("visible");
    return visible != params.end() && visible->is_boolean() && !visible->get<bool>();
}

bool readPageTarget(const json& params, Completion& c) {
    const auto info = params.find("targetInfo");
    if (info == params.end() || stringAt(*info, "type") != "page") return false;
    c.value = stringAt(*info, "targetId");
    c.text = stringAt(*info, "url");
    c.detail = stringAt(*info, "openerId");
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
    {"Page.loadEventFired", Completion::Type::Loaded, nullptr, nullptr},
    {"Page.screencastFrame", Completion::Type::Frame, nullptr, readFrame},
    {"Page.screencastVisibilityChanged", Completion::Type::Hidden, nullptr, readHidden},
    {"Runtime.bindingCalled", Completion::Type::TextFocus, nullptr, readFocusReport},
    {"Target.detachedFromTarget", Completion::Type::Lost, "the page was detached", nullptr},
    {"Target.targetCreated", Completion::Type::NewPage, nullptr, readPageTarget},
    {"Target.targetInfoChanged", Completion::Type::NewPage, nullptr, readPageTarget},
};

const EventEntry* eventEntry(std::string_view method) {
    const auto entry =
        std::find_if(std::begin(events), std::end(events), [&](const EventEntry& e) { return e.method == method; });
    return entry == std::end(events) ? nullptr : entry;
}

bool readEvent(const std::string& method, const json& message, std::optional<Completion>& reply,
               std::string& lostReason) {
    const EventEntry* entry = eventEntry(method);
    if (entry == nullptr) return true;
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

// ---- The method of a message, before it is parsed ----
//
// Most of what the browser sends once the page's domains are on is nothing we act on: console
// messages, exceptions, execution contexts, loading steps, other targets. Such an event is
// dropped without being parsed. Its method is found by walking the object's top-level keys
// without building anything: strings are passed over to their closing quote, nested objects
// and arrays to their matching bracket, so no text inside a value (a reply's result holding
// `"method":"x"`, say) can pass for a key of the message. Whatever the walk is not sure of (a
// key or the method spelled with escapes, the method twice or not a string, brackets that do
// not match or nest deeper than it follows, anything after the object) leaves the message to
// the full parse, as is every message without a method.

struct MethodScan {
    enum class Result { NoMethod, Method, Unsure };
    Result result = Result::Unsure;
    std::string_view method{};
};

constexpr std::size_t notFound = std::string_view::npos;

std::size_t skipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) ++at;
    return at;
}

// Just past the string whose opening quote is at `at`: its closing quote is the first one
// after an even run of backslashes.
std::size_t stringEnd(std::string_view text, std::size_t at) {
    for (std::size_t quote = at; (quote = text.find('"', quote + 1)) != notFound;) {
        std::size_t backslashes = 0;
        while (text[quote - 1 - backslashes] == '\\') ++backslashes;
        if (backslashes % 2 == 0) return quote + 1;
    }
    return notFound;
}

// Just past the object or array opening at `at`; its brackets are followed 64 deep, one bit
// each (set for an object).
std::size_t containerEnd(std::string_view text, std::size_t at) {
    std::uint64_t objects = 0;
    int depth = 0;
    for (std::size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            i = stringEnd(text, i);
            if (i == notFound) return notFound;
            --i;
        } else if (c == '{' || c == '[') {
            if (depth == 64) return notFound;
            objects = (objects << 1) | (c == '{' ? 1u : 0u);
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0 || (objects & 1u) != (c == '}' ? 1u : 0u)) return notFound;
            objects >>= 1;
            if (--depth == 0) return i + 1;
        }
    }
    return notFound;
}

// Just past the value starting at `at`; a number or literal runs to the next delimiter.
std::size_t valueEnd(std::string_view text, std::size_t at) {
    if (at >= text.size()) return notFound;
    if (text[at] == '"') return stringEnd(text, at);
    if (text[at] == '{' || text[at] == '[') return containerEnd(text, at);
    const std::size_t end = text.find_first_of(",}] \t\n\r", at);
    return end == at ? notFound : end;
}

// A string's content between its quotes, or nothing when it holds an escape.
std::optional<std::string_view> plainString(std::string_view text, std::size_t begin, std::size_t end) {
    const std::string_view inner = text.substr(begin + 1, end - begin - 2);
    if (inner.find('\\') != notFound) return std::nullopt;
    return inner;
}

MethodScan scanMethod(std::string_view text) {
    constexpr MethodScan unsure{};
    MethodScan scan{.result = MethodScan::Result::NoMethod};
    std::size_t at = skipSpace(text, 0);
    if (at >= text.size() || text[at] != '{') return unsure;
    at = skipSpace(text, at + 1);
    bool more = at < text.size() && text[at] != '}';
    while (more) {
        const std::size_t keyEnd = at < text.size() && text[at] == '"' ? stringEnd(text, at) : notFound;
        if (keyEnd == notFound) return unsure;
        const auto key = plainString(text, at, keyEnd);
        const std::size_t colon = skipSpace(text, keyEnd);
        if (!key || colon >= text.size() || text[colon] != ':') return unsure;
        const std::size_t valueAt = skipSpace(text, colon + 1);
        const std::size_t end = valueEnd(text, valueAt);
        if (end == notFound) return unsure;
        if (*key == "method") {
            const auto method = text[valueAt] == '"' ? plainString(text, valueAt, end) : std::nullopt;
            if (scan.result == MethodScan::Result::Method || !method || method->empty()) return unsure;
            scan = {MethodScan::Result::Method, *method};
        }
        at = skipSpace(text, end);
        if (at >= text.size() || (text[at] != ',' && text[at] != '}')) return unsure;
        more = text[at] == ',';
        if (more) at = skipSpace(text, at + 1);
    }
    return at < text.size() && skipSpace(text, at + 1) == text.size() ? scan : unsure;
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
    case Request::Snapshot:
    case Request::Shot: {
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
    if (const MethodScan scan = scanMethod(message);
        scan.result == MethodScan::Result::Method && eventEntry(scan.method) == nullptr)
        return true;
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
