#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ml {

// Fork-join workers owned by one program. The calling thread takes part in every loop and waits
// only for ranges that workers have actually taken, so a worker the system has not scheduled yet
// never holds a loop up. A loop started while another thread holds the pool runs on the calling
// thread alone, so predictions made at the same time never wait on each other. Idle workers spin
// briefly, then sleep.
class ThreadPool {
public:
    using RangeBody = std::function<void(std::size_t begin, std::size_t end)>;
    // Also told which of the threadCount() threads runs the range, to pick per-thread scratch.
    using SlotRangeBody = std::function<void(int slot, std::size_t begin, std::size_t end)>;

    explicit ThreadPool(int threadCount);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int threadCount() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls body(begin, end) on disjoint ranges of at most `grain` items that together cover
    // [0, count). The body must not throw.
    void parallelFor(std::size_t count, std::size_t grain, const RangeBody& body);
    void parallelForWithSlot(std::size_t count, std::size_t grain, const SlotRangeBody& body);

private:
    void workerLoop(int slot);
    // Takes and runs ranges of the current loop until none is left.
    void runRanges(int slot);

    std::vector<std::thread> workers_;
    std::mutex busy_;
    std::atomic<bool> stopping_ {false};
    std::atomic<std::uint32_t> wake_ {0};
    // The current loop: its number, its range count and the next range to take, in one word so
    // that a range is only ever taken from the loop it belongs to.
    std::atomic<std::uint64_t> work_ {0};
    std::atomic<std::uint32_t> finished_ {0};
    std::uint64_t loopNumber_ = 0;
    // Written by the caller only while no range of the loop is taken or running.
    const SlotRangeBody* body_ = nullptr;
    std::size_t count_ = 0;
    std::size_t grain_ = 1;
};

} // namespace ml
