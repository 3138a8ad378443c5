#pragma once

#include <mutex>

namespace ml {

// Lets the predictions of the models that share it compute one at a time. Each prediction spreads
// over all cores by itself; models of one pipeline used from several threads at once would
// otherwise take the same cores from each other and leave every thread pool waiting for threads
// the system has descheduled. A holder never waits for another prediction.
class ComputeGate {
public:
    [[nodiscard]] std::unique_lock<std::mutex> enter() { return std::unique_lock(mutex_); }
    // No gate holds nothing back.
    [[nodiscard]] static std::unique_lock<std::mutex> enter(ComputeGate* gate)
    {
        return gate ? gate->enter() : std::unique_lock<std::mutex>();
    }

private:
    std::mutex mutex_;
};

} // namespace ml
