#pragma once

#include <stdexcept>
#include <stop_token>

namespace auris {

// Thrown when a stage sees that its caller asked it to stop before it started its work.
class CancellationError : public std::runtime_error {
public:
    CancellationError()
        : std::runtime_error("CancellationError")
    {
    }
};

inline void checkCancellation(const std::stop_token& stopToken)
{
    if (stopToken.stop_requested()) {
        throw CancellationError();
    }
}

} // namespace auris
