#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

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
constexpr std::uint64_t loopMask = (std::uint64_t(1) << (64 - 2 * indexBits - 1)) - 1;
constexpr std::uint64_t pinnedFlag = std::uint64_t(1) << 63;
constexpr int pinnedCountBits = 16;
constexpr std::uint64_t stretchFlag = std::uint64_t(1) << (pinnedCountBits - 1);
constexpr std::uint64_t chunkMask = 0xffff;

constexpr std::uint64_t stretchWord(std::uint64_t number, std::uint64_t front, std::uint64_t back)
{
    return (number & 0xffffffffu) << 32 | front << 16 | back;
}

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
    : claims_(maximumPinnedRanges)
    , done_(static_cast<std::size_t>(std::max(1, threadCount)))
    , stretches_(static_cast<std::size_t>(std::max(1, threadCount)))
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
    control_.wake.fetch_add(1, std::memory_order_acq_rel);
    control_.wake.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
}

void ThreadPool::workerLoop(int slot)
{
    std::uint32_t seen = 0;
    for (;;) {
        seen = awaitChange(control_.wake, seen);
        if (stopping_.load(std::memory_order_acquire)) {
            return;
        }
        runRanges(slot);
    }
}

void ThreadPool::runRanges(int slot)
{
    for (;;) {
        std::uint64_t work = control_.work.load(std::memory_order_acquire);
        std::uint64_t index = 0;
        for (;;) {
            if (work & pinnedFlag) {
                runPinnedRanges(slot);
                return;
            }
            index = work & indexMask;
            const std::uint64_t ranges = (work >> indexBits) & indexMask;
            if (index >= ranges) {
                return;
            }
            if (control_.work.compare_exchange_weak(work, work + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                break;
            }
        }
        // Holding a range of this loop keeps the caller from starting another one, so the loop's
        // body and sizes stay valid until the range is counted as finished.
        const std::size_t begin = static_cast<std::size_t>(index) * control_.grain;
        (*control_.body)(slot, begin, std::min(control_.count, begin + control_.grain));
        finished_.fetch_add(1, std::memory_order_acq_rel);
        finished_.notify_all();
    }
}

void ThreadPool::runPinnedRanges(int slot)
{
    const std::uint64_t work = control_.pinnedWork.load(std::memory_order_acquire);
    if (work & stretchFlag) {
        runStretches(slot, work);
        return;
    }
    const std::uint64_t number = work >> pinnedCountBits;
    const std::size_t ranges = static_cast<std::size_t>(work & (stretchFlag - 1));
    const std::size_t threads = static_cast<std::size_t>(threadCount());
    std::atomic<std::uint64_t>& done = done_[static_cast<std::size_t>(slot)].value;
    // False when the loop has ended: then this thread must run nothing more.
    const auto take = [&](std::size_t r) {
        std::uint64_t claim = claims_[r].value.load(std::memory_order_relaxed);
        if (claim >= number || !claims_[r].value.compare_exchange_strong(claim, number, std::memory_order_acq_rel)) {
            return true;
        }
        // A claim made after the loop ended marks a range of a later loop with an older number,
        // which leaves it free for that loop.
        if (control_.pinnedWork.load(std::memory_order_acquire) != work) {
            return false;
        }
        (*control_.pinnedBody)(slot, r);
        done.store(done.load(std::memory_order_relaxed) + 1, std::memory_order_release);
        return true;
    };
    for (std::size_t r = static_cast<std::size_t>(slot); r < ranges; r += threads) {
        if (!take(r)) {
            return;
        }
    }
    for (std::size_t i = 1; i < ranges; ++i) {
        if (!take((static_cast<std::size_t>(slot) + i) % ranges)) {
            return;
        }
    }
}

void ThreadPool::runStretches(int slot, std::uint64_t work)
{
    const std::uint64_t number = (work >> pinnedCountBits) & 0xffffffffu;
    std::atomic<std::uint64_t>& done = done_[static_cast<std::size_t>(slot)].value;
    const auto run = [&](std::size_t stretch, std::uint64_t begin, std::uint64_t end) {
        // Valid: the loop cannot end while this thread holds chunks it has not counted.
        (*control_.stretchBody)(slot, stretch, static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
        done.store(done.load(std::memory_order_relaxed) + (end - begin), std::memory_order_release);
    };
    std::atomic<std::uint64_t>& own = stretches_[static_cast<std::size_t>(slot)].value;
    for (std::uint64_t word = own.load(std::memory_order_acquire);;) {
        const std::uint64_t front = (word >> 16) & chunkMask;
        const std::uint64_t back = word & chunkMask;
        if (word >> 32 != number || front >= back) {
            break;
        }
        if (own.compare_exchange_weak(word, word + (std::uint64_t(1) << 16), std::memory_order_acq_rel, std::memory_order_acquire)) {
            run(static_cast<std::size_t>(slot), front, front + 1);
            word = own.load(std::memory_order_acquire);
        }
    }
    const std::size_t threads = stretches_.size();
    for (;;) {
        std::size_t victim = threads;
        std::uint64_t victimWord = 0;
        std::uint64_t most = 0;
        for (std::size_t i = 1; i < threads; ++i) {
            const std::size_t s = (static_cast<std::size_t>(slot) + i) % threads;
            const std::uint64_t word = stretches_[s].value.load(std::memory_order_acquire);
            if (word >> 32 != number) {
                return;
            }
            const std::uint64_t front = (word >> 16) & chunkMask;
            const std::uint64_t back = word & chunkMask;
            if (back > front && back - front > most) {
                most = back - front;
                victim = s;
                victimWord = word;
            }
        }
        if (victim == threads) {
            return;
        }
        const std::uint64_t back = victimWord & chunkMask;
        const std::uint64_t taken = (most + 1) / 2;
        if (stretches_[victim].value.compare_exchange_strong(victimWord, victimWord - taken, std::memory_order_acq_rel)) {
            run(victim, back - taken, back);
        }
    }
}

void ThreadPool::parallelForStretches(const std::vector<std::uint16_t>& chunks, const StretchBody& body)
{
    if (chunks.size() != stretches_.size()) {
        throw std::invalid_argument("a stretch loop needs one stretch per thread");
    }
    std::uint64_t total = 0;
    for (const std::uint16_t count : chunks) {
        total += count;
    }
    if (total == 0) {
        return;
    }
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock() || workers_.empty()) {
        for (std::size_t s = 0; s < chunks.size(); ++s) {
            if (chunks[s] > 0) {
                body(0, s, 0, chunks[s]);
            }
        }
        return;
    }
    control_.stretchBody = &body;
    const std::uint64_t number = pinnedNumber_ + 1;
    for (std::size_t s = 0; s < chunks.size(); ++s) {
        stretches_[s].value.store(stretchWord(number, 0, chunks[s]), std::memory_order_relaxed);
    }
    runPinnedLoop(stretchFlag, total);
}

void ThreadPool::parallelForPinned(std::size_t ranges, const PinnedBody& body)
{
    if (ranges == 0) {
        return;
    }
    if (ranges > maximumPinnedRanges) {
        throw std::invalid_argument("too many ranges for one pinned loop");
    }
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock() || workers_.empty() || ranges == 1) {
        for (std::size_t r = 0; r < ranges; ++r) {
            body(0, r);
        }
        return;
    }
    control_.pinnedBody = &body;
    runPinnedLoop(0, ranges);
}

void ThreadPool::runPinnedLoop(std::uint64_t flags, std::uint64_t units)
{
    ++pinnedNumber_;
    control_.pinnedWork.store((pinnedNumber_ << pinnedCountBits) | flags | (flags ? 0 : units), std::memory_order_release);
    loopNumber_ = (loopNumber_ + 1) & loopMask;
    control_.work.store(pinnedFlag | (loopNumber_ << (2 * indexBits)), std::memory_order_release);
    control_.wake.fetch_add(1, std::memory_order_acq_rel);
    control_.wake.notify_all();
    runPinnedRanges(0);
    pinnedDone_ += units;
    const auto deadline = std::chrono::steady_clock::now() + spinTime;
    for (unsigned spins = 0;; ++spins) {
        std::uint64_t done = 0;
        for (const auto& slot : done_) {
            done += slot.value.load(std::memory_order_acquire);
        }
        if (done == pinnedDone_) {
            return;
        }
        if ((spins & 63u) == 63u && std::chrono::steady_clock::now() > deadline) {
            std::this_thread::yield();
        } else {
            relax();
        }
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
    control_.body = &body;
    control_.count = count;
    control_.grain = grain;
    finished_.store(0, std::memory_order_relaxed);
    loopNumber_ = (loopNumber_ + 1) & loopMask;
    control_.work.store((loopNumber_ << (2 * indexBits)) | (std::uint64_t(ranges) << indexBits), std::memory_order_release);
    control_.wake.fetch_add(1, std::memory_order_acq_rel);
    control_.wake.notify_all();
    runRanges(0);
    for (std::uint32_t done = finished_.load(std::memory_order_acquire); done != ranges;
         done = finished_.load(std::memory_order_acquire)) {
        awaitChange(finished_, done);
    }
}

} // namespace ml
