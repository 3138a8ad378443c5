#pragma once

#include <chrono>
#include <string>

namespace auris {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Adds the seconds of its lifetime to `total` once, whichever way the scope is left.
class StageTimer {
public:
    explicit StageTimer(double& total)
        : total_(total)
    {
    }
    ~StageTimer() { total_ += secondsSince(start_); }
    StageTimer(const StageTimer&) = delete;
    StageTimer& operator=(const StageTimer&) = delete;

private:
    double& total_;
    Clock::time_point start_ = Clock::now();
};

// Seconds since 2001-01-01 00:00:00 UTC, the reference date the engine's absolute times count from.
double absoluteTimeNow();

// The current UTC time as "yyyy-MM-dd HH:mm:ss +0000".
std::string currentDateText();

} // namespace auris
