#include "app/ui/design/DurationFormatting.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace parlino::design {

namespace {

std::int64_t wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds)) {
        return 0;
    }
    constexpr double limit = 9223372036854775807.0;
    if (seconds >= limit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (seconds <= -limit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(seconds);
}

QString format(double seconds, const char* pattern)
{
    const std::int64_t whole = wholeSeconds(seconds);
    char text[64];
    std::snprintf(text, sizeof text, pattern, whole / 60, whole % 60);
    return QString::fromLatin1(text);
}

} // namespace

QString formattedDuration(double seconds)
{
    return format(seconds, "%" PRId64 ":%02" PRId64);
}

QString formattedDurationPadded(double seconds)
{
    return format(seconds, "%02" PRId64 ":%02" PRId64);
}

} // namespace parlino::design
