#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ml {

// Fork-join workers owned by one program. The calling thread takes part in every loop. A loop
// started while another thread holds the pool runs on the calling thread alone, so predictions made
// at the same time never wait on each other. Idle workers spin briefly, then sleep.
class ThreadPool {
public:
    using RangeBody = std::function<void(std::size_t begin, std::size_t end)>;

    explicit ThreadPool(int threadCount);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int threadCount() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls body(begin, end) on disjoint ranges of at most `grain` items that together cover
    // [0, count). The body must not throw.
    void parallelFor(std::size_t count, std::size_t grain, const RangeBody& body);

private:
    void workerLoop();
    void runChunks();

    std::vector<std::thread> workers_;
    std::mutex busy_;
    std::atomic<std::uint32_t> generation_ {0};
    std::atomic<int> pending_ {0};
    std::atomic<bool> stopping_ {false};
    std::atomic<std::size_t> next_ {0};
    std::size_t count_ = 0;
    std::size_t grain_ = 1;
    const RangeBody* body_ = nullptr;
};

} // namespace ml
