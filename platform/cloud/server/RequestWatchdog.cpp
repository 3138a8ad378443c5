#include "platform/cloud/server/RequestWatchdog.hpp"

#include <sys/socket.h>

namespace platform::cloud::server {

RequestWatchdog::RequestWatchdog(std::chrono::milliseconds limit, Clock clock, Thread thread)
    : limit_(limit)
    , clock_(std::move(clock))
{
    if (thread == Thread::own) {
        thread_ = std::thread([this] { loop(); });
    }
}

RequestWatchdog::~RequestWatchdog()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

RequestWatchdog::Watch::Watch(RequestWatchdog& watchdog, int socket, bool& expired)
    : watchdog_(watchdog)
    , expired_(expired)
{
    expired_ = false;
    {
        std::lock_guard lock(watchdog_.mutex_);
        id_ = watchdog_.nextId_++;
        watchdog_.entries_.emplace(id_, Entry {socket, watchdog_.clock_() + watchdog_.limit_});
    }
    watchdog_.changed_.notify_all();
}

RequestWatchdog::Watch::~Watch()
{
    // Once the entry is gone the socket is never touched again, so the caller may close it.
    std::lock_guard lock(watchdog_.mutex_);
    const auto found = watchdog_.entries_.find(id_);
    expired_ = found->second.expired;
    watchdog_.entries_.erase(found);
}

void RequestWatchdog::Watch::progressed()
{
    std::lock_guard lock(watchdog_.mutex_);
    auto& entry = watchdog_.entries_.at(id_);
    if (!entry.expired) {
        entry.deadline = watchdog_.clock_() + watchdog_.limit_;
    }
}

std::size_t RequestWatchdog::expireDue()
{
    std::lock_guard lock(mutex_);
    const auto now = clock_();
    std::size_t count = 0;
    for (auto& [id, entry] : entries_) {
        if (!entry.expired && entry.deadline <= now) {
            entry.expired = true;
            ::shutdown(entry.socket, SHUT_RDWR);
            ++count;
        }
    }
    return count;
}

void RequestWatchdog::loop()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        auto next = std::chrono::steady_clock::time_point::max();
        for (const auto& [id, entry] : entries_) {
            if (!entry.expired && entry.deadline < next) {
                next = entry.deadline;
            }
        }
        if (next == std::chrono::steady_clock::time_point::max()) {
            changed_.wait(lock);
            continue;
        }
        changed_.wait_until(lock, next);
        if (stopping_) {
            break;
        }
        lock.unlock();
        expireDue();
        lock.lock();
    }
}

} // namespace platform::cloud::server
