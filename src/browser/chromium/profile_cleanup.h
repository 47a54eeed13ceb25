// Browser profile folders the session no longer needs, removed off the simulator's main
// thread: a profile holds thousands of cache files, and removing them can take far longer
// than a frame.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace chromium {

// A profile folder for this session alone, <folder>/cv-chromium-<simulator pid>-XXXXXX (mode
// 0700), used when the lasting one cannot be had. "" with `error` set when none could be made.
std::string makePrivateProfile(const std::string& folder, std::string& error);

// One thread that removes folders, started when there is work and ending when there is none;
// joined when the next one starts, and at the latest by stop().
class ProfileCleanup {
public:
    using Clock = std::chrono::steady_clock;

    ProfileCleanup() = default;
    // Stops at once: what is left is found by a later removeStale().
    ~ProfileCleanup();
    ProfileCleanup(const ProfileCleanup&) = delete;
    ProfileCleanup& operator=(const ProfileCleanup&) = delete;

    // Removes the private profiles in `folder` that no browser will run on again: those named
    // after a simulator process that is gone (it crashed, or was killed before it could clean
    // up), and those a session gave up (discard()) but did not finish removing.
    void removeStale(const std::string& folder);
    // Removes a private profile no browser runs on any more. It is renamed as given up first,
    // at once, so that a removal cut short is finished by a later removeStale(), even one in
    // this same simulator process.
    void discard(const std::string& profile);
    // Lets the work queued so far run until `deadline`, cancels what is left then, and joins
    // the thread. Work queued afterwards starts a new one.
    void stop(Clock::time_point deadline);

private:
    struct Job {
        enum class Kind { stale, folder } kind;
        std::string path;
    };
    void submit(Job job);
    void run();

    std::mutex mutex_;  // guards jobs_ and busy_
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;  // a thread has work in hand or queued
    std::atomic<bool> cancelled_{false};
    std::thread thread_;
};

}  // namespace chromium
