#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace platform::cloud::server {

// Ends requests to the server that have made no progress for longer than the limit. A frozen server
// (stopped, or behind a dead network path) never answers and never lets a statement time out on its
// side, so the client itself shuts the connection's socket down: the blocked read then fails at once
// and the request ends with an error instead of waiting forever.
class RequestWatchdog {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    enum class Thread { own, none };

    // With Thread::none nothing expires until expireDue() is called, so tests drive it with their clock.
    explicit RequestWatchdog(std::chrono::milliseconds limit, Clock clock = std::chrono::steady_clock::now,
                             Thread thread = Thread::own);
    ~RequestWatchdog();
    RequestWatchdog(const RequestWatchdog&) = delete;
    RequestWatchdog& operator=(const RequestWatchdog&) = delete;

    // Watches one request on `socket` for as long as it lives; `expired` becomes true when the
    // watchdog has ended it, at the latest when the watch is destroyed.
    class Watch {
    public:
        Watch(RequestWatchdog& watchdog, int socket, bool& expired);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

        // The request is alive: its limit starts again.
        void progressed();

    private:
        RequestWatchdog& watchdog_;
        std::uint64_t id_;
        bool& expired_;
    };

    // Ends every watched request past its deadline now; returns how many.
    std::size_t expireDue();
    std::chrono::milliseconds limit() const { return limit_; }

private:
    struct Entry {
        int socket;
        std::chrono::steady_clock::time_point deadline;
        bool expired = false;
    };

    void loop();

    std::chrono::milliseconds limit_;
    Clock clock_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, Entry> entries_;
    std::uint64_t nextId_ = 1;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace platform::cloud::server
