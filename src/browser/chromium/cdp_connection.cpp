#include "browser/chromium/cdp_connection.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "browser/chromium/cdp_wire.h"

namespace cdp {

namespace {

void closeFds(std::initializer_list<int*> fds) {
    for (int* fd : fds) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool repliesAreReported(Request request) {
    return request != Request::Input && request != Request::Close && request != Request::StopScreencast &&
           request != Request::FrameAck && request != Request::GoBack;
}

}  // namespace

Connection::Connection(int toBrowser, int fromBrowser, std::function<void(Completion&)> takePicture)
    : takePicture_(std::move(takePicture)), toBrowser_(toBrowser), fromBrowser_(fromBrowser) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        const int error = errno;
        closeFds({&toBrowser_, &fromBrowser_});
        throw std::system_error(error, std::generic_category(), "eventfd");
    }
    // Our ends only: the browser's ends of the pipes are separate descriptions and stay
    // blocking. A full pipe must never hold the I/O thread where stop cannot reach it.
    setNonBlocking(toBrowser_);
    setNonBlocking(fromBrowser_);
    try {
        thread_ = std::thread(&Connection::run, this);
    } catch (...) {
        closeFds({&wakeFd_, &toBrowser_, &fromBrowser_});
        throw;
    }
}

Connection::~Connection() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    if (thread_.joinable()) thread_.join();
    closeFds({&wakeFd_, &toBrowser_, &fromBrowser_});
}

void Connection::wake() {
    const std::uint64_t one = 1;
    // A full counter still leaves the descriptor readable, which is all the thread needs.
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void Connection::send(Request request, const std::string& method, const nlohmann::json& params,
                      const std::string& sessionId, std::uint64_t tag) {
    nlohmann::json message = {{"method", method}, {"params", params}};
    if (!sessionId.empty()) message["sessionId"] = sessionId;
    {
        std::lock_guard lock(mutex_);
        const int id = nextId_++;
        if (lost_) {
            // The I/O thread has already failed everything it knew of; fail this one here so
            // the caller still gets its one completion.
            if (repliesAreReported(request)) {
                completions_.push_back({.request = request, .tag = tag, .text = "the browser is gone"});
                completionsWaiting_.store(true, std::memory_order_release);
            }
            return;
        }
        message["id"] = id;
        // Dump with replacement: a stray invalid byte in a caller's text must not throw here.
        outbound_.push_back(
            {id, {request, tag}, message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)});
    }
    wake();
}

std::deque<Completion> Connection::takeCompletions() {
    std::lock_guard lock(mutex_);
    completionsWaiting_.store(false, std::memory_order_release);
    return std::exchange(completions_, {});
}

bool Connection::lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}

void Connection::complete(Completion completion) {
    std::lock_guard lock(mutex_);
    completions_.push_back(std::move(completion));
    completionsWaiting_.store(true, std::memory_order_release);
}

void Connection::lose(const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (lost_) return;
    lost_ = true;
    // Every command still owed an answer, written or not, fails now, in the order sent.
    for (const auto& out : outbound_) pending_.emplace(out.id, out.pending);
    outbound_.clear();
    for (const auto& [id, pending] : pending_) {
        if (repliesAreReported(pending.request))
            completions_.push_back({.request = pending.request, .tag = pending.tag, .text = reason});
    }
    pending_.clear();
    completions_.push_back({.type = Completion::Type::Lost, .text = reason});
    completionsWaiting_.store(true, std::memory_order_release);
    writeBuffer_.clear();
    written_ = 0;
}

void Connection::run() {
    // Named so it can be told apart in a debugger or in /proc.
    pthread_setname_np(pthread_self(), "cv-devtools");
    // A write to a pipe whose reader has died raises SIGPIPE in the writing thread; blocked
    // here, the write fails with EPIPE instead of taking the simulator down.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    try {
        serve();
    } catch (const std::exception& e) {
        lose(std::string("internal error: ") + e.what());
    } catch (...) {
        lose("internal error");
    }
}

void Connection::serve() {
    bool lost = false;
    for (;;) {
        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLOUT, 0}};
        if (!lost) {
            fds[1].fd = fromBrowser_;
            if (written_ < writeBuffer_.size()) fds[2].fd = toBrowser_;
        }
        std::string reason;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            reason = std::string("poll failed: ") + std::strerror(errno);
        } else if (fds[0].revents != 0 && !takeOutbound()) {
            return;
        }
        if (lost) continue;
        const bool alive = reason.empty() && (fds[1].revents == 0 || readMessages(reason)) && writeAvailable(reason);
        if (!alive) {
            lose(reason);
            lost = true;
        }
    }
}

bool Connection::takeOutbound() {
    std::uint64_t count;
    [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    for (auto& out : outbound_) {
        if (repliesAreReported(out.pending.request)) pending_.emplace(out.id, out.pending);
        writeBuffer_ += out.text;
        writeBuffer_ += '\0';
    }
    outbound_.clear();
    return true;
}

bool Connection::readMessages(std::string& lostReason) {
    // Replies that arrived before the pipe closed are still delivered.
    const bool open = readAvailable(lostReason);
    while (auto message = reader_.next()) {
        std::optional<Completion> reply;
        if (!handleMessage(*message, pending_, reply, lostReason)) return false;
        if (reply && reply->ok && takePicture_ &&
            (reply->type == Completion::Type::Frame ||
             (reply->type == Completion::Type::Reply && reply->request == Request::Shot)))
            takePicture_(*reply);
        if (reply) complete(std::move(*reply));
    }
    if (reader_.failed()) {
        lostReason = "the browser sent a message larger than 64 MiB";
        return false;
    }
    return open;
}

bool Connection::readAvailable(std::string& lostReason) {
    // Reads what is there now; the next poll brings the rest.
    static constexpr std::size_t chunk = 1 << 16;
    char buffer[chunk];
    for (int rounds = 0; rounds < 64; ++rounds) {
        const ssize_t n = ::read(fromBrowser_, buffer, chunk);
        if (n > 0) {
            reader_.feed(buffer, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < chunk) return true;
            continue;
        }
        if (n == 0) {
            lostReason = "the browser has closed its pipe";
            return false;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
        lostReason = std::string("reading from the browser failed: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool Connection::writeAvailable(std::string& lostReason) {
    while (written_ < writeBuffer_.size()) {
        const ssize_t n = ::write(toBrowser_, writeBuffer_.data() + written_, writeBuffer_.size() - written_);
        if (n > 0) {
            written_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        lostReason = n < 0 ? std::string("writing to the browser failed: ") + std::strerror(errno)
                           : std::string("writing to the browser failed");
        return false;
    }
    writeBuffer_.clear();
    written_ = 0;
    return true;
}

}  // namespace cdp
