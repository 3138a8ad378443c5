#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ml {

namespace {

// Long enough to bridge the gaps between the loops of one prediction, short enough not to take
// cores from other work (the BLAS threads) for long.
constexpr auto spinTime = std::chrono::microseconds(200);

inline void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

template<typename T>
T awaitChange(const std::atomic<T>& value, T old)
{
    const auto deadline = std::chrono::steady_clock::now() + spinTime;
    unsigned spins = 0;
    for (;;) {
        const T current = value.load(std::memory_order_acquire);
        if (current != old) {
            return current;
        }
        if ((++spins & 63u) == 0 && std::chrono::steady_clock::now() > deadline) {
            value.wait(old, std::memory_order_acquire);
        } else {
            relax();
        }
    }
}

} // namespace

ThreadPool::ThreadPool(int threadCount)
{
    const int workers = std::max(1, threadCount) - 1;
    workers_.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i) {
        workers_.emplace_back([this] { workerLoop(); });
    }
}

ThreadPool::~ThreadPool()
{
    stopping_.store(true, std::memory_order_release);
    generation_.fetch_add(1, std::memory_order_acq_rel);
    generation_.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
}

void ThreadPool::workerLoop()
{
    // Every worker starts from generation 0, whenever its thread gets to run: a loop published
    // before it first looks must still count on it.
    std::uint32_t seen = 0;
    for (;;) {
        seen = awaitChange(generation_, seen);
        if (stopping_.load(std::memory_order_acquire)) {
            return;
        }
        runChunks();
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            pending_.notify_one();
        }
    }
}

void ThreadPool::runChunks()
{
    for (;;) {
        const std::size_t begin = next_.fetch_add(grain_, std::memory_order_relaxed);
        if (begin >= count_) {
            return;
        }
        (*body_)(begin, std::min(count_, begin + grain_));
    }
}

void ThreadPool::parallelFor(std::size_t count, std::size_t grain, const RangeBody& body)
{
    if (count == 0) {
        return;
    }
    grain = std::max<std::size_t>(grain, 1);
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock() || workers_.empty() || count <= grain) {
        for (std::size_t begin = 0; begin < count; begin += grain) {
            body(begin, std::min(count, begin + grain));
        }
        return;
    }
    body_ = &body;
    count_ = count;
    grain_ = grain;
    next_.store(0, std::memory_order_relaxed);
    pending_.store(static_cast<int>(workers_.size()), std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_acq_rel);
    generation_.notify_all();
    runChunks();
    for (int left = pending_.load(std::memory_order_acquire); left != 0; left = pending_.load(std::memory_order_acquire)) {
        awaitChange(pending_, left);
    }
    body_ = nullptr;
}

} // namespace ml
