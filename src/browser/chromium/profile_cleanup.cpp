#include "browser/chromium/profile_cleanup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chromium {

namespace {

namespace fs = std::filesystem;

constexpr char profilePrefix[] = "cv-chromium-";
// The name part standing for a simulator process in the folder of a profile given up.
constexpr char givenUp[] = "gone";

// Removes `path` and everything below it, without following links. False when cancelled
// before the end; whatever went wrong otherwise is left for a later clean-up.
bool removeTree(const fs::path& path, const std::atomic<bool>& cancelled) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        // The names first: a folder is not changed while it is being read.
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            entries.push_back(it->path());
        for (const auto& entry : entries) {
            if (cancelled.load(std::memory_order_relaxed)) return false;
            if (!removeTree(entry, cancelled)) return false;
        }
    }
    if (cancelled.load(std::memory_order_relaxed)) return false;
    fs::remove(path, ec);
    return true;
}

// Whether the profile folder `name` (under `folder`) will never be run on again.
bool stale(const std::string& folder, const std::string& name) {
    if (name.rfind(profilePrefix, 0) != 0) return false;
    const std::size_t from = sizeof profilePrefix - 1;
    const std::size_t dash = name.find('-', from);
    if (dash == std::string::npos) return false;
    const std::string owner = name.substr(from, dash - from);
    struct stat info {};
    const std::string path = folder + "/" + name;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
    if (owner == givenUp) return true;
    if (owner.empty() || owner.find_first_not_of("0123456789") != std::string::npos || owner.size() > 9) return false;
    const pid_t pid = static_cast<pid_t>(std::stol(owner));
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::string makePrivateProfile(const std::string& folder, std::string& error) {
    std::string path = folder + "/" + profilePrefix + std::to_string(::getpid()) + "-XXXXXX";
    // mkdtemp creates the folder with mode 0700: the profile is ours alone.
    if (::mkdtemp(path.data()) == nullptr) {
        error = std::string("cannot create a profile folder: ") + std::strerror(errno);
        return {};
    }
    return path;
}

ProfileCleanup::~ProfileCleanup() { stop(Clock::now()); }

void ProfileCleanup::removeStale(const std::string& folder) { submit({Job::Kind::stale, folder}); }

void ProfileCleanup::discard(const std::string& profile) {
    // <folder>/cv-chromium-<pid>-XXXXXX becomes <folder>/cv-chromium-gone-XXXXXX.
    const fs::path path(profile);
    const std::string name = path.filename().string();
    const std::size_t dash = name.find('-', sizeof profilePrefix - 1);
    std::string target = profile;
    if (name.rfind(profilePrefix, 0) == 0 && dash != std::string::npos) {
        const std::string renamed =
            (path.parent_path() / (profilePrefix + std::string(givenUp) + name.substr(dash))).string();
        if (::rename(profile.c_str(), renamed.c_str()) == 0) target = renamed;
    }
    submit({Job::Kind::folder, target});
}

void ProfileCleanup::submit(Job job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (busy_) return;
    // A thread that ran out of work is ending, holding nothing: its join returns at once.
    if (thread_.joinable()) thread_.join();
    busy_ = true;
    cancelled_ = false;
    try {
        thread_ = std::thread(&ProfileCleanup::run, this);
    } catch (...) {
        // No thread to be had: the folders are left for a later clean-up.
        jobs_.clear();
        busy_ = false;
    }
}

void ProfileCleanup::run() {
    pthread_setname_np(pthread_self(), "cv-cleanup");
    for (;;) {
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (jobs_.empty() || cancelled_) {
                jobs_.clear();
                busy_ = false;
                idle_.notify_all();
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (job.kind == Job::Kind::folder) {
            removeTree(job.path, cancelled_);
            continue;
        }
        std::error_code ec;
        std::vector<std::string> names;
        for (fs::directory_iterator it(job.path, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().string());
        for (const auto& name : names) {
            if (cancelled_) break;
            if (stale(job.path, name)) removeTree(job.path + "/" + name, cancelled_);
        }
    }
}

void ProfileCleanup::stop(Clock::time_point deadline) {
    {
        std::unique_lock lock(mutex_);
        idle_.wait_until(lock, deadline, [this] { return !busy_; });
        cancelled_ = true;
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    jobs_.clear();
    busy_ = false;
}

}  // namespace chromium
