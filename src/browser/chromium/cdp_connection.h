// The DevTools pipe to the browser, served by a thread of its own. The main thread only
// queues small commands and collects finished replies; reading the pipe, JSON parsing and
// the base64 decoding of snapshots and screencast frames all happen on the I/O thread, so a
// slow or misbehaving browser can never stall the simulator.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "browser/chromium/cdp_message.h"
#include "browser/chromium/cdp_wire.h"

namespace cdp {

// Largest message accepted from the browser. A snapshot of a large page is a few MiB of
// base64; anything beyond this is a broken stream.
inline constexpr std::size_t maxMessageBytes = 64u << 20;

class Connection {
public:
    // Takes ownership of both pipe ends and starts the I/O thread. Throws std::system_error
    // when the thread or its wake-up descriptor cannot be created (the ends are closed then).
    // `takePicture`, when given, is offered each screencast frame and each shot's reply on the
    // I/O thread, as soon as it is read; what it leaves in the completion's picture reaches the
    // main thread with it.
    Connection(int toBrowser, int fromBrowser, std::function<void(Completion&)> takePicture = {});
    // Stops and joins the I/O thread and closes both ends. Unfinished commands are dropped.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Queues one command. Replies of Input, Close, StopScreencast and FrameAck are not reported;
    // every other command yields exactly one Completion carrying `tag`, a failed one if the
    // connection is lost first.
    void send(Request request, const std::string& method, const nlohmann::json& params,
              const std::string& sessionId = {}, std::uint64_t tag = 0);

    // Cheap check for the per-frame poll on the main thread.
    bool hasCompletions() const { return completionsWaiting_.load(std::memory_order_acquire); }
    std::deque<Completion> takeCompletions();
    // True once the pipe has broken or the peer stopped speaking the protocol. The I/O thread
    // then only waits to be stopped, so destroying the connection cannot keep its caller.
    bool lost() const;

private:
    struct Outbound {
        int id;
        PendingRequest pending;
        std::string text;
    };

    void run();
    void serve();
    void wake();
    // Moves the commands queued by the main thread to the write buffer. False once stopping.
    bool takeOutbound();
    // Reads what the browser sent and completes what it answers. False, with `lostReason`,
    // when the connection is lost: the pipe closed, or a message ended it.
    bool readMessages(std::string& lostReason);
    bool readAvailable(std::string& lostReason);
    bool writeAvailable(std::string& lostReason);
    void complete(Completion completion);
    void lose(const std::string& reason);

    // Owned by the I/O thread once started.
    std::function<void(Completion&)> takePicture_;
    int toBrowser_;
    int fromBrowser_;
    int wakeFd_ = -1;
    MessageReader reader_{maxMessageBytes};
    PendingRequests pending_;
    std::string writeBuffer_;
    std::size_t written_ = 0;

    mutable std::mutex mutex_;  // guards everything below
    std::deque<Outbound> outbound_;
    std::deque<Completion> completions_;
    int nextId_ = 1;
    bool stopping_ = false;
    bool lost_ = false;
    std::atomic<bool> completionsWaiting_{false};

    std::thread thread_;
};

}  // namespace cdp
