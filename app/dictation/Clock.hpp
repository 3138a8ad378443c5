#pragma once

#include <QObject>

#include <chrono>
#include <functional>

namespace parlino {

// The time source and delayed steps of dictation and pasting: every hold threshold, retry, poll and
// paste delay goes through it, so that tests move time by hand. Used on the Qt main thread only.
class Clock {
public:
    using Duration = std::chrono::milliseconds;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;
    // Runs `action` on the main thread `delay` from now, unless `context` is gone by then.
    virtual void schedule(Duration delay, QObject* context, std::function<void()> action) = 0;

    // Seconds between two instants, as the hold durations are measured.
    static double seconds(TimePoint from, TimePoint to)
    {
        return std::chrono::duration<double>(to - from).count();
    }
};

// Steady time and Qt timers.
class SystemClock final : public Clock {
public:
    TimePoint now() const override;
    void schedule(Duration delay, QObject* context, std::function<void()> action) override;

    static SystemClock& shared();
};

} // namespace parlino
