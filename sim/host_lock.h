// The lock that keeps the host's state whole when a module breaks the one-thread rule.
//
// The main thread holds it whenever it works on the host's state, and lets go of it for the
// length of every call into a module (and while it sleeps or pumps the platform's messages,
// which also runs module code). A worker thread's XPLM call takes it too, so it runs either
// while the main thread is inside the module or between frames, never in the middle of the
// host's own bookkeeping. The main thread never waits for a module's thread while holding it:
// a module that joins its worker does so inside a call into the module, with the lock free.
//
// It is re-entrant for the thread that holds it, since host code calls host code.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace xpsim {

class HostLock {
public:
    void lock() {
        const auto self = std::this_thread::get_id();
        if (owner_.load() == self) {
            ++depth_;
            return;
        }
        mutex_.lock();
        owner_.store(self);
        depth_ = 1;
    }

    void unlock() {
        if (--depth_ > 0) return;
        owner_.store(std::thread::id());
        mutex_.unlock();
    }

    // Lets go of the lock entirely for the life of the object, if this thread holds it, and
    // takes it back at the same depth afterwards.
    class Released {
    public:
        explicit Released(HostLock& lock) : lock_(lock) {
            if (lock_.owner_.load() != std::this_thread::get_id()) return;
            depth_ = lock_.depth_;
            lock_.depth_ = 0;
            lock_.owner_.store(std::thread::id());
            lock_.mutex_.unlock();
        }
        ~Released() {
            if (depth_ == 0) return;
            lock_.mutex_.lock();
            lock_.owner_.store(std::this_thread::get_id());
            lock_.depth_ = depth_;
        }
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

    private:
        HostLock& lock_;
        int depth_ = 0;
    };

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;  // touched only by the thread that holds mutex_
};

}  // namespace xpsim
