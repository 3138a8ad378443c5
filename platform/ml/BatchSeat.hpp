#pragma once

#include <functional>
#include <utility>

namespace ml {

// A thread's place among the threads whose predictions of one model may run together (see
// Model::joinBatch): while it lives, the holder's predictions wait for the other holders' and run
// with theirs. It must not outlive its model. An empty seat batches nothing.
class BatchSeat {
public:
    BatchSeat() = default;
    explicit BatchSeat(std::function<void()> leave) : leave_(std::move(leave)) {}
    ~BatchSeat() { release(); }
    BatchSeat(BatchSeat&& other) noexcept : leave_(std::exchange(other.leave_, nullptr)) {}
    BatchSeat& operator=(BatchSeat&& other) noexcept
    {
        if (this != &other) {
            release();
            leave_ = std::exchange(other.leave_, nullptr);
        }
        return *this;
    }
    BatchSeat(const BatchSeat&) = delete;
    BatchSeat& operator=(const BatchSeat&) = delete;

    explicit operator bool() const { return static_cast<bool>(leave_); }

private:
    void release()
    {
        if (leave_) {
            std::exchange(leave_, nullptr)();
        }
    }
    std::function<void()> leave_;
};

} // namespace ml
