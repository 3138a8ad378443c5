#pragma once

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>

namespace parlino {

double secondsBetween(const QDateTime& from, const QDateTime& to);
double secondsSince(std::chrono::steady_clock::time_point start);

// A scheduled tick; it stops when the handle is destroyed.
class RecorderTimer {
public:
    virtual ~RecorderTimer() = default;
};

// The recorder's time: the wall clock for file names and durations, and timers for the duration
// display, the simulated download progress and the flush wait. Tests drive a manual one.
class RecorderClock {
public:
    virtual ~RecorderClock() = default;

    // Safe from any thread.
    virtual QDateTime now() const = 0;
    // Calls `tick` on the main thread once `interval` has passed, and every `interval` after that when
    // `repeats`, until the handle is destroyed. Called on the main thread; a tick must not destroy
    // its own handle.
    virtual std::unique_ptr<RecorderTimer> schedule(std::chrono::milliseconds interval, bool repeats,
        std::function<void()> tick) = 0;
};

// The system's clock and Qt timers on the main thread.
class SystemRecorderClock final : public RecorderClock {
public:
    QDateTime now() const override;
    std::unique_ptr<RecorderTimer> schedule(std::chrono::milliseconds interval, bool repeats,
        std::function<void()> tick) override;
};

} // namespace parlino
