#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// Collects what a test server writes to its output pipe, on a thread of its own, and tells when a
// start-up line has appeared or the output has closed (the server and all its children are gone).
class ProcessOutput {
public:
    enum class Start { ready, closed, timedOut };

    ProcessOutput() = default;
    ~ProcessOutput() { stop(); }
    ProcessOutput(const ProcessOutput&) = delete;
    ProcessOutput& operator=(const ProcessOutput&) = delete;

    // Reads `fd` (closed when reading ends) until it closes; `readyLine` counts only in output read
    // from now on. A previous reading must have ended.
    void read(int fd, std::string readyLine);
    Start waitForStart(std::chrono::milliseconds timeout);
    bool waitForClose(std::chrono::milliseconds timeout);
    // Ends the reading, also when some other process keeps the pipe open.
    void stop();

    std::string text() const;

private:
    void run(int fd);

    std::thread reader_;
    std::atomic<bool> stopping_ {false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    std::string readyLine_;
    std::size_t readingStart_ = 0;
    bool ready_ = false;
    bool closed_ = false;
};

} // namespace testsupport
