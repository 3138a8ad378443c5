#pragma once

#include <chrono>

namespace auris {

// How the streaming loop waits between idle passes; tests pass one that returns at once.
class StreamingClock {
public:
    virtual ~StreamingClock() = default;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// Waits on the steady clock.
class SystemStreamingClock final : public StreamingClock {
public:
    void sleep(std::chrono::milliseconds duration) override;
};

} // namespace auris
