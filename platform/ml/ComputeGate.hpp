#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace ml {

// Lets the predictions of the models that share it compute one at a time. Each prediction spreads
// over all cores by itself; models of one pipeline used from several threads at once would
// otherwise take the same cores from each other and leave every thread pool waiting for threads
// the system has descheduled. Turns are given in the order they are asked for: a thread that
// steps decoders back to back never keeps an encoder waiting longer than one step. A holder never
// waits for another prediction.
class ComputeGate {
public:
    class Turn {
    public:
        Turn() = default;
        explicit Turn(ComputeGate* gate) : gate_(gate) {}
        Turn(Turn&& other) noexcept : gate_(std::exchange(other.gate_, nullptr)) {}
        Turn& operator=(Turn&&) = delete;
        Turn(const Turn&) = delete;
        ~Turn()
        {
            if (gate_) {
                gate_->leave();
            }
        }

    private:
        ComputeGate* gate_ = nullptr;
    };

    [[nodiscard]] Turn enter()
    {
        std::unique_lock lock(mutex_);
        const std::uint64_t ticket = next_++;
        turnChanged_.wait(lock, [&] { return serving_ == ticket; });
        return Turn(this);
    }
    // No gate holds nothing back.
    [[nodiscard]] static Turn enter(ComputeGate* gate) { return gate ? gate->enter() : Turn(); }

private:
    void leave()
    {
        {
            std::lock_guard lock(mutex_);
            ++serving_;
        }
        turnChanged_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable turnChanged_;
    std::uint64_t next_ = 0;
    std::uint64_t serving_ = 0;
};

} // namespace ml
