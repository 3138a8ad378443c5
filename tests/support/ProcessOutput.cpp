#include "support/ProcessOutput.hpp"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace testsupport {

void ProcessOutput::read(int fd, std::string readyLine)
{
    stop();
    {
        std::lock_guard lock(mutex_);
        readyLine_ = std::move(readyLine);
        readingStart_ = text_.size();
        ready_ = false;
        closed_ = false;
    }
    stopping_ = false;
    reader_ = std::thread([this, fd] { run(fd); });
}

ProcessOutput::Start ProcessOutput::waitForStart(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return ready_ || closed_; })) {
        return Start::timedOut;
    }
    return ready_ ? Start::ready : Start::closed;
}

bool ProcessOutput::waitForClose(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return closed_; });
}

void ProcessOutput::stop()
{
    stopping_ = true;
    if (reader_.joinable()) {
        reader_.join();
    }
}

std::string ProcessOutput::text() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

void ProcessOutput::run(int fd)
{
    char buffer[4096];
    for (;;) {
        pollfd source {fd, POLLIN, 0};
        // Bounded, so that stop() is heard while the pipe stays open and silent.
        const int ready = ::poll(&source, 1, 200);
        if (ready == 0) {
            if (stopping_) {
                break;
            }
            continue;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        const auto count = ready < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        {
            std::lock_guard lock(mutex_);
            text_.append(buffer, static_cast<std::size_t>(count));
            if (!ready_ && text_.find(readyLine_, readingStart_) != std::string::npos) {
                ready_ = true;
            }
        }
        changed_.notify_all();
    }
    ::close(fd);
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

} // namespace testsupport
