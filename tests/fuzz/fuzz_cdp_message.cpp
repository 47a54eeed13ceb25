// Bytes from the browser's end of the DevTools pipe, whatever they hold, through
// cdp::Connection itself, over a pair of sockets: its I/O thread reads them in whatever
// pieces the socket hands over, frames them, parses each message and completes commands,
// until the browser's end closes. Nothing may crash, hang or throw; the connection must
// report exactly what the messages say, in order: the reply to each pending command its id
// names (with that command's kind and tag), the events it acts on (the page's commits, its
// reports of its focus, its dialogs, new windows and downloads, which take no pending
// command), then, at the first message that ends the connection or at
// the end of the bytes, every command still owed a reply as failed, in the order sent, and
// one loss, last. Events it does not act on are dropped before they are parsed, but never a
// well-formed reply to a pending command. The bytes reach it in pieces of any size, so a
// framing that depended on how they were split would report other completions.
//
// Input: a first line naming the commands waiting for a reply, one letter per id from 1
// (L getTargets, C createTarget, A attachToTarget, V setDeviceMetricsOverride, E Page.enable, N navigate,
// S captureScreenshot, F a command setting up the page's focus reports; any other byte: a
// command whose reply is not waited for), then '\n', then the bytes as the browser sent them.
// Without a '\n' in the first 256 bytes, no command is sent and the whole input is the stream.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_connection.h"
#include "browser/chromium/cdp_message.h"
#include "fuzz_check.h"

namespace {

std::optional<cdp::Request> requestFor(char letter) {
    using R = cdp::Request;
    static const std::string letters = "LCAVENSF";
    static const R kinds[] = {R::ListTargets, R::CreateTarget, R::Attach,   R::SetViewport,
                              R::EnablePage,  R::Navigate,     R::Snapshot, R::FocusChannel};
    const std::size_t at = letters.find(letter);
    return at == std::string::npos ? std::nullopt : std::optional<R>(kinds[at]);
}

std::uint64_t tagFor(int id) { return 1000u + static_cast<std::uint64_t>(id); }

// The NUL-separated pieces of the stream, and what follows the last NUL.
std::vector<std::string> splitOnNul(const std::string& stream, std::string& tail) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t nul; (nul = stream.find('\0', start)) != std::string::npos; start = nul + 1)
        pieces.push_back(stream.substr(start, nul - start));
    tail = stream.substr(start);
    return pieces;
}

// Chunk sizes from a small generator seeded by the input, from one byte up.
class Chunks {
public:
    explicit Chunks(std::uint32_t seed) : state_(seed | 1u) {}
    std::size_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return 1 + state_ % ((state_ >> 24) % 4 == 0 ? 8 : 4096);
    }

private:
    std::uint32_t state_;
};

// The id a reply names, exactly as the JSON text has it; none when it is not an integer.
std::optional<long long> messageId(const std::string& message) {
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

bool sameCompletion(const cdp::Completion& a, const cdp::Completion& b) {
    return a.type == b.type && a.request == b.request && a.tag == b.tag && a.ok == b.ok && a.text == b.text &&
           a.value == b.value && a.snapshot.bytes == b.snapshot.bytes;
}

// Telling events by their method before parsing never drops a well-formed reply to a pending
// command: one with no method, or one that is no name.
void checkNoReplyDropped(const std::string& message, const cdp::PendingRequests& before, bool kept,
                         const std::optional<cdp::Completion>& reply) {
    const auto parsed = nlohmann::json::parse(message, nullptr, false);
    const auto method = parsed.is_object() ? parsed.value("method", nlohmann::json()) : nlohmann::json("x");
    const auto id = method.is_string() && !method.empty() ? std::nullopt : messageId(message);
    if (id && *id >= INT32_MIN && *id <= INT32_MAX && before.count(static_cast<int>(*id)) != 0)
        FUZZ_CHECK(kept && reply && reply->type == cdp::Completion::Type::Reply,
                   "a reply to a pending command was dropped");
}

// What the connection must report for these messages: each one handled in turn until one
// ends the connection, then the loss.
std::vector<cdp::Completion> expectedCompletions(const std::vector<std::string>& messages,
                                                 cdp::PendingRequests pending) {
    std::vector<cdp::Completion> expected;
    std::string reason = "the browser has closed its pipe";
    for (const std::string& message : messages) {
        const cdp::PendingRequests before = pending;
        std::optional<cdp::Completion> reply;
        std::string lostReason;
        const bool kept = cdp::handleMessage(message, pending, reply, lostReason);
        checkNoReplyDropped(message, before, kept, reply);
        if (!kept) {
            FUZZ_CHECK(!reply && !lostReason.empty(), "a lost connection without its reason");
            reason = lostReason;
            break;
        }
        if (!reply) {
            FUZZ_CHECK(pending.size() == before.size(), "a message without a reply took a pending command");
            continue;
        }
        if (reply->type != cdp::Completion::Type::Reply) {
            FUZZ_CHECK(pending.size() == before.size(), "an event took a pending command");
        } else {
            // Exactly the one pending command the reply's id names is completed.
            const auto id = messageId(message);
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
        expected.push_back(std::move(*reply));
    }
    for (const auto& [id, request] : pending) {
        cdp::Completion failed;
        failed.request = request.request;
        failed.tag = request.tag;
        failed.text = reason;
        expected.push_back(std::move(failed));
    }
    cdp::Completion lost;
    lost.type = cdp::Completion::Type::Lost;
    lost.text = reason;
    expected.push_back(std::move(lost));
    return expected;
}

// Writes the stream in chunks, as far as the connection reads it: once it has given up on
// the browser it reads no more, and what is left is not written.
void writeStream(int fd, const std::string& stream, const cdp::Connection& connection, std::uint32_t seed) {
    Chunks chunks(seed);
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min(chunks.next(), stream.size() - at);
        const ssize_t written = ::write(fd, stream.data() + at, n);
        if (written > 0) {
            at += static_cast<std::size_t>(written);
            continue;
        }
        FUZZ_CHECK(written < 0 && (errno == EAGAIN || errno == EINTR), "the stream could not be written");
        if (connection.lost()) return;
        pollfd ready{fd, POLLOUT, 0};
        ::poll(&ready, 1, 10);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string letters, stream = input;
    if (const auto newline = input.find('\n'); newline != std::string::npos && newline < 256) {
        letters = input.substr(0, newline);
        stream = input.substr(newline + 1);
    }
    std::string tail;  // an unfinished message, which the loss at the end of the bytes drops
    const std::vector<std::string> pieces = splitOnNul(stream, tail);

    int commands[2], replies[2];  // [0] the connection's end, [1] the browser's
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, commands) == 0, "no socket pair");
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, replies) == 0, "no socket pair");
    ::fcntl(replies[1], F_SETFL, O_NONBLOCK);
    cdp::PendingRequests pending;
    std::vector<cdp::Completion> got;
    {
        cdp::Connection connection(commands[0], replies[0]);
        for (std::size_t i = 0; i < letters.size(); ++i) {
            const int id = static_cast<int>(i) + 1;
            const auto request = requestFor(letters[i]);
            if (request) pending.emplace(id, cdp::PendingRequest{*request, tagFor(id)});
            connection.send(request.value_or(cdp::Request::Input), "Fuzz.command", nlohmann::json::object(), "",
                            tagFor(id));
        }
        writeStream(replies[1], stream, connection, static_cast<std::uint32_t>(size));
        ::close(replies[1]);
        // The loss comes last; a connection that never reports it has hung.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.empty() || got.back().type != cdp::Completion::Type::Lost) {
            FUZZ_CHECK(std::chrono::steady_clock::now() < giveUp, "the connection never reported its loss");
            if (!connection.hasCompletions()) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            for (auto& completion : connection.takeCompletions()) got.push_back(std::move(completion));
        }
        FUZZ_CHECK(!connection.hasCompletions(), "the connection reported something after its loss");
    }

    const std::vector<cdp::Completion> expected = expectedCompletions(pieces, pending);
    FUZZ_CHECK(got.size() == expected.size(), "the connection reported another number of completions");
    for (std::size_t i = 0; i < got.size(); ++i)
        FUZZ_CHECK(sameCompletion(got[i], expected[i]), "the connection reported another completion");

    ::close(commands[1]);
    return 0;
}
