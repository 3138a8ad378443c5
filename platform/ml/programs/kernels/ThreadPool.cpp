#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ml {

namespace {

// Long enough to bridge the gaps between the loops of one prediction, short enough not to keep
// cores from other work for long.
constexpr auto spinTime = std::chrono::microseconds(100);

constexpr int indexBits = 20;
constexpr std::uint64_t indexMask = (std::uint64_t(1) << indexBits) - 1;
constexpr std::uint64_t maximumRanges = indexMask;
constexpr std::uint64_t loopMask = (std::uint64_t(1) << (64 - 2 * indexBits)) - 1;

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
        workers_.emplace_back([this, i] { workerLoop(i + 1); });
    }
}

ThreadPool::~ThreadPool()
{
    stopping_.store(true, std::memory_order_release);
    wake_.fetch_add(1, std::memory_order_acq_rel);
    wake_.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
}

void ThreadPool::workerLoop(int slot)
{
    std::uint32_t seen = 0;
    for (;;) {
        seen = awaitChange(wake_, seen);
        if (stopping_.load(std::memory_order_acquire)) {
            return;
        }
        runRanges(slot);
    }
}

void ThreadPool::runRanges(int slot)
{
    for (;;) {
        std::uint64_t work = work_.load(std::memory_order_acquire);
        std::uint64_t index = 0;
        for (;;) {
            index = work & indexMask;
            const std::uint64_t ranges = (work >> indexBits) & indexMask;
            if (index >= ranges) {
                return;
            }
            if (work_.compare_exchange_weak(work, work + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                break;
            }
        }
        // Holding a range of this loop keeps the caller from starting another one, so the loop's
        // body and sizes stay valid until the range is counted as finished.
        const std::size_t begin = static_cast<std::size_t>(index) * grain_;
        (*body_)(slot, begin, std::min(count_, begin + grain_));
        finished_.fetch_add(1, std::memory_order_acq_rel);
        finished_.notify_all();
    }
}

void ThreadPool::parallelFor(std::size_t count, std::size_t grain, const RangeBody& body)
{
    parallelForWithSlot(count, grain, [&body](int, std::size_t begin, std::size_t end) { body(begin, end); });
}

void ThreadPool::parallelForWithSlot(std::size_t count, std::size_t grain, const SlotRangeBody& body)
{
    if (count == 0) {
        return;
    }
    grain = std::max<std::size_t>(grain, 1);
    grain = std::max<std::size_t>(grain, (count + maximumRanges - 1) / maximumRanges);
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock() || workers_.empty() || count <= grain) {
        for (std::size_t begin = 0; begin < count; begin += grain) {
            body(0, begin, std::min(count, begin + grain));
        }
        return;
    }
    const auto ranges = static_cast<std::uint32_t>((count + grain - 1) / grain);
    body_ = &body;
    count_ = count;
    grain_ = grain;
    finished_.store(0, std::memory_order_relaxed);
    loopNumber_ = (loopNumber_ + 1) & loopMask;
    work_.store((loopNumber_ << (2 * indexBits)) | (std::uint64_t(ranges) << indexBits), std::memory_order_release);
    wake_.fetch_add(1, std::memory_order_acq_rel);
    wake_.notify_all();
    runRanges(0);
    for (std::uint32_t done = finished_.load(std::memory_order_acquire); done != ranges;
         done = finished_.load(std::memory_order_acquire)) {
        awaitChange(finished_, done);
    }
}

} // namespace ml
