#pragma once

#include <chrono>
#include <string>

namespace auris {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds since 2001-01-01 00:00:00 UTC, the reference date the engine's absolute times count from.
double absoluteTimeNow();

// The current UTC time as "yyyy-MM-dd HH:mm:ss +0000".
std::string currentDateText();

} // namespace auris
