#include "Auris/Utilities/Clock.hpp"

#include <ctime>

namespace auris {

double absoluteTimeNow()
{
    constexpr double referenceDateOffset = 978307200.0;
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count()
        - referenceDateOffset;
}

std::string currentDateText()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts {};
    gmtime_r(&now, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

} // namespace auris
