// Bytes from the browser's end of the DevTools pipe, whatever they hold, through what the
// I/O thread does with them: the message framing, then each message's JSON and, for a
// snapshot, its base64. Nothing may crash or throw; the framing must give back exactly the
// NUL-separated pieces of the stream, however it arrived; a reply may only complete the one
// pending command its id names, with that command's kind and tag; the page's report of its
// focus takes no pending command.
//
// Input: a first line naming the commands waiting for a reply, one letter per id from 1
// (L getTargets, C createTarget, A attachToTarget, V setDeviceMetricsOverride, N navigate,
// S captureScreenshot, F a command setting up the page's focus reports; any other byte: no
// command waiting under that id), then '\n', then
// the bytes as the browser sent them. Without a '\n' in the first 256 bytes, nothing waits
// and the whole input is the stream.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_message.h"
#include "browser/chromium/cdp_wire.h"
#include "fuzz_check.h"

namespace {

std::optional<cdp::Request> requestFor(char letter)
{
    switch (letter) {
    case 'L': return cdp::Request::ListTargets;
    case 'C': return cdp::Request::CreateTarget;
    case 'A': return cdp::Request::Attach;
    case 'V': return cdp::Request::SetViewport;
    case 'N': return cdp::Request::Navigate;
    case 'S': return cdp::Request::Snapshot;
    case 'F': return cdp::Request::FocusChannel;
    default: return std::nullopt;
    }
}

std::uint64_t tagFor(int id) { return 1000u + static_cast<std::uint64_t>(id); }

// The NUL-separated pieces of the stream, and what follows the last NUL.
std::vector<std::string> splitOnNul(const std::string& stream, std::string& tail)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t nul; (nul = stream.find('\0', start)) != std::string::npos; start = nul + 1)
        pieces.push_back(stream.substr(start, nul - start));
    tail = stream.substr(start);
    return pieces;
}

// The reads of the I/O thread end wherever the pipe happens to be drained: chunk sizes from
// a small generator seeded by the input, from one byte up.
class Chunks {
public:
    explicit Chunks(std::uint32_t seed) : state_(seed | 1u) {}
    std::size_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return 1 + state_ % ((state_ >> 24) % 4 == 0 ? 8 : 4096);
    }

private:
    std::uint32_t state_;
};

// The id a reply names, exactly as the JSON text has it; none when it is not an integer.
std::optional<long long> messageId(const std::string& message)
{
    const auto parsed = nlohmann::json::parse(message, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    const auto id = parsed.find("id");
    if (id == parsed.end()) return std::nullopt;
    if (id->is_number_unsigned()) {
        const auto value = id->get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
        return static_cast<long long>(value);
    }
    if (id->is_number_integer()) return id->get<std::int64_t>();
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    cdp::PendingRequests pending;
    std::string stream = input;
    if (const auto newline = input.find('\n'); newline != std::string::npos && newline < 256) {
        for (std::size_t i = 0; i < newline; ++i) {
            const int id = static_cast<int>(i) + 1;
            if (const auto request = requestFor(input[i])) pending.emplace(id, cdp::PendingRequest{*request, tagFor(id)});
        }
        stream = input.substr(newline + 1);
    }
    std::string tail;
    const std::vector<std::string> pieces = splitOnNul(stream, tail);

    // As the I/O thread: feed what was read, then hand every whole message on, until one ends
    // the connection.
    cdp::MessageReader reader(cdp::maxMessageBytes);
    std::vector<std::string> messages;
    bool lost = false;
    Chunks chunks(static_cast<std::uint32_t>(size * 2654435761u));
    for (std::size_t at = 0; at < stream.size() && !lost;) {
        const std::size_t n = std::min(chunks.next(), stream.size() - at);
        reader.feed(stream.data() + at, n);
        at += n;
        while (auto message = reader.next()) {
            messages.push_back(*message);
            const cdp::PendingRequests before = pending;
            std::optional<cdp::Completion> reply;
            std::string reason = "unset";
            if (!cdp::handleMessage(*message, pending, reply, reason)) {
                FUZZ_CHECK(!reply && reason != "unset" && !reason.empty(), "a lost connection without its reason");
                lost = true;
                break;
            }
            if (!reply || reply->type == cdp::Completion::Type::TextFocus) {
                FUZZ_CHECK(pending.size() == before.size(), "a message without a reply took a pending command");
                continue;
            }
            // Exactly the one pending command the reply's id names is completed.
            const auto id = messageId(*message);
            FUZZ_CHECK(id.has_value(), "a reply completed a command without an integer id");
            const auto was = before.find(static_cast<int>(*id));
            FUZZ_CHECK(*id >= INT32_MIN && *id <= INT32_MAX && was != before.end(),
                       "a reply completed a command of another id");
            FUZZ_CHECK(pending.size() + 1 == before.size() && pending.count(was->first) == 0,
                       "a reply did not take exactly its own command");
            FUZZ_CHECK(reply->type == cdp::Completion::Type::Reply && reply->request == was->second.request &&
                           reply->tag == was->second.tag,
                       "a reply completed with another command's kind or tag");
            if (reply->request == cdp::Request::Snapshot)
                FUZZ_CHECK(reply->ok != reply->snapshot.empty(), "a snapshot reply and its bytes disagree");
            if (!reply->ok) FUZZ_CHECK(!reply->text.empty(), "a failed reply without a reason");
        }
    }
    FUZZ_CHECK(!reader.failed(), "a message within the cap was refused");
    FUZZ_CHECK(messages.size() <= pieces.size(), "more messages than NUL-ended pieces");
    for (std::size_t i = 0; i < messages.size(); ++i)
        FUZZ_CHECK(messages[i] == pieces[i], "a message is not the piece of the stream it came from");
    if (!lost) FUZZ_CHECK(messages.size() == pieces.size(), "a NUL-ended piece was never handed out");

    // The cap: a reader that accepts 64 bytes hands out the pieces up to the first longer
    // one (counting the unfinished tail), and then fails for good.
    constexpr std::size_t smallCap = 64;
    cdp::MessageReader capped(smallCap);
    std::vector<std::string> cappedMessages;
    Chunks cappedChunks(static_cast<std::uint32_t>(size));
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min(cappedChunks.next(), stream.size() - at);
        capped.feed(stream.data() + at, n);
        at += n;
        while (auto message = capped.next()) cappedMessages.push_back(*message);
    }
    std::size_t fitting = 0;
    while (fitting < pieces.size() && pieces[fitting].size() <= smallCap) ++fitting;
    const bool overlong = fitting < pieces.size() || tail.size() > smallCap;
    FUZZ_CHECK(capped.failed() == overlong, "the cap was not applied exactly");
    FUZZ_CHECK(cappedMessages.size() == fitting, "the capped reader handed out another number of messages");
    for (std::size_t i = 0; i < fitting; ++i)
        FUZZ_CHECK(cappedMessages[i] == pieces[i], "the capped reader handed out another message");
    return 0;
}
