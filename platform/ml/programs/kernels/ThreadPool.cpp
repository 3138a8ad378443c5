#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ml {

namespace {

// Spinning bridges the gaps between the loops of one prediction; yielding then bridges those
// between predictions (a decoder's token loop works a few hundred microseconds between steps,
// and waking a sleeping thread costs about as long again) while other work may have the core.
constexpr auto spinTime = std::chrono::microseconds(100);
constexpr auto yieldTime = std::chrono::milliseconds(2);

constexpr int indexBits = 20;
constexpr std::uint64_t indexMask = (std::uint64_t(1) << indexBits) - 1;
constexpr std::uint64_t maximumRanges = indexMask;
constexpr std::uint64_t loopMask = (std::uint64_t(1) << (64 - 2 * indexBits - 1)) - 1;
constexpr std::uint64_t sequenceFlag = std::uint64_t(1) << 63;
constexpr int loopCountBits = 16;
constexpr std::uint64_t loopCountMask = (std::uint64_t(1) << loopCountBits) - 1;
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
    const auto start = std::chrono::steady_clock::now();
    bool yielding = false;
    for (unsigned spins = 1;; ++spins) {
        const T current = value.load(std::memory_order_acquire);
        if (current != old) {
            return current;
        }
        const bool look = (spins & 63u) == 0;
        if (yielding) {
            if (look && std::chrono::steady_clock::now() > start + yieldTime) {
                value.wait(old, std::memory_order_acquire);
            } else {
                std::this_thread::yield();
            }
        } else if (look && std::chrono::steady_clock::now() > start + spinTime) {
            yielding = true;
        } else {
            relax();
        }
    }
}

} // namespace

ThreadPool::ThreadPool(int threadCount)
    : done_(static_cast<std::size_t>(std::max(1, threadCount)))
    , stretches_(new StretchLine[maximumSequenceLoops / wordsPerLine * static_cast<std::size_t>(std::max(1, threadCount))])
    , sequenceTargets_(new std::atomic<std::uint64_t>[maximumSequenceLoops])
    , ahead_(new std::atomic<std::uintptr_t>[4 * maximumSequenceLoops * static_cast<std::size_t>(std::max(1, threadCount))])
    , early_(new std::atomic<std::uint8_t>[maximumSequenceLoops])
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
            if (work & sequenceFlag) {
                runSequence(slot, control_.sequenceWork.load(std::memory_order_acquire));
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

template<typename Idle>
bool ThreadPool::awaitDone(std::uint64_t target, std::uint64_t work, Idle&& idle) const
{
    const auto deadline = std::chrono::steady_clock::now() + spinTime;
    bool idling = true;
    for (unsigned spins = 0;; ++spins) {
        std::uint64_t done = 0;
        for (const auto& slot : done_) {
            done += slot.value.load(std::memory_order_acquire);
        }
        if (done >= target) {
            return true;
        }
        if (control_.sequenceWork.load(std::memory_order_acquire) != work) {
            return false;
        }
        if (idling) {
            idling = idle();
        } else if ((spins & 63u) == 63u && std::chrono::steady_clock::now() > deadline) {
            std::this_thread::yield();
        } else {
            relax();
        }
    }
}

void ThreadPool::runSequence(int slot, std::uint64_t work)
{
    const std::uint64_t number = (work >> loopCountBits) & 0xffffffffu;
    const std::size_t loops = static_cast<std::size_t>(work & loopCountMask);
    const std::size_t threads = done_.size();
    const std::size_t self = static_cast<std::size_t>(slot);
    std::atomic<std::uint64_t>& done = done_[self].value;
    for (std::size_t k = 0; k < loops; ++k) {
        // The targets are atomic because a thread that comes late may read those of the next
        // sequence; then the work word has changed and it stops.
        if (k > 0 && !early_[k].load(std::memory_order_relaxed)) {
            const std::atomic<std::uintptr_t>* range = ahead_.get() + 4 * (k * threads + self);
            const std::uintptr_t data = range[0].load(std::memory_order_relaxed);
            const std::uintptr_t bytes = range[1].load(std::memory_order_relaxed);
            const std::uintptr_t rows = range[2].load(std::memory_order_relaxed);
            const std::uintptr_t stride = range[3].load(std::memory_order_relaxed);
            std::uintptr_t row = 0;
            std::uintptr_t line = data & ~std::uintptr_t(63);
            // A few lines between looks at the counters, into the second-level cache.
            const auto ask = [&] {
                for (int i = 0; i < 8 && row < rows; ++i) {
                    __builtin_prefetch(reinterpret_cast<const void*>(line), 0, 2);
                    line += 64;
                    if (line >= data + row * stride + bytes) {
                        ++row;
                        line = (data + row * stride) & ~std::uintptr_t(63);
                    }
                }
                return row < rows;
            };
            if (!awaitDone(sequenceTargets_[k - 1].load(std::memory_order_acquire), work, ask)) {
                return;
            }
        }
        bool entered = false;
        // Valid: the sequence cannot end while this thread holds chunks it has not counted.
        const auto run = [&](std::size_t stretch, std::uint64_t begin, std::uint64_t end) {
            if (!entered) {
                (*enterBody_)(slot, k);
                entered = true;
            }
            (*sequenceBody_)(slot, k, stretch, static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
            done.store(done.load(std::memory_order_relaxed) + (end - begin), std::memory_order_release);
        };
        std::atomic<std::uint64_t>& own = stretch(k, self);
        for (std::uint64_t word = own.load(std::memory_order_acquire);;) {
            const std::uint64_t front = (word >> 16) & chunkMask;
            const std::uint64_t back = word & chunkMask;
            if (word >> 32 != number) {
                return;
            }
            if (front >= back) {
                break;
            }
            // Two chunks a turn: a chunk is small for the stealing at a loop's end, not for this.
            const std::uint64_t take = std::min<std::uint64_t>(2, back - front);
            if (own.compare_exchange_weak(word, word + (take << 16), std::memory_order_acq_rel, std::memory_order_acquire)) {
                run(self, front, front + take);
                word = own.load(std::memory_order_acquire);
            }
        }
        for (;;) {
            std::size_t victim = threads;
            std::uint64_t victimWord = 0;
            std::uint64_t most = 0;
            for (std::size_t i = 1; i < threads; ++i) {
                const std::size_t s = (self + i) % threads;
                const std::uint64_t word = stretch(k, s).load(std::memory_order_acquire);
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
                break;
            }
            const std::uint64_t back = victimWord & chunkMask;
            // Few at a time: a long stolen run would end the loop alone.
            const std::uint64_t taken = std::min<std::uint64_t>((most + 1) / 2, 8);
            if (stretch(k, victim).compare_exchange_strong(victimWord, victimWord - taken, std::memory_order_acq_rel)) {
                run(victim, back - taken, back);
            }
        }
    }
}

void ThreadPool::awaitAtLeast(const std::atomic<std::size_t>& value, std::size_t target)
{
    while (value.load(std::memory_order_acquire) < target) {
        relax();
    }
}

void ThreadPool::parallelForSequence(std::span<const std::vector<std::uint16_t>> chunks, std::span<const Ahead> ahead,
    const EnterBody& enter, const SequenceBody& body, std::span<const std::uint8_t> early)
{
    const std::size_t threads = done_.size();
    if (chunks.size() > maximumSequenceLoops) {
        throw std::invalid_argument("too many loops for one sequence");
    }
    if (!ahead.empty() && ahead.size() != chunks.size() * threads) {
        throw std::invalid_argument("a sequence needs one ahead range per loop and thread");
    }
    if (!early.empty() && early.size() != chunks.size()) {
        throw std::invalid_argument("a sequence needs one early flag per loop");
    }
    std::uint64_t total = 0;
    for (const auto& loop : chunks) {
        if (loop.size() != threads) {
            throw std::invalid_argument("a stretch loop needs one stretch per thread");
        }
        for (const std::uint16_t count : loop) {
            total += count;
        }
    }
    if (total == 0) {
        return;
    }
    std::unique_lock lock(busy_, std::try_to_lock);
    if (!lock.owns_lock() || workers_.empty()) {
        for (std::size_t k = 0; k < chunks.size(); ++k) {
            bool entered = false;
            for (std::size_t s = 0; s < threads; ++s) {
                if (chunks[k][s] > 0) {
                    if (!entered) {
                        enter(0, k);
                        entered = true;
                    }
                    body(0, k, s, 0, chunks[k][s]);
                }
            }
        }
        return;
    }
    enterBody_ = &enter;
    sequenceBody_ = &body;
    const std::uint64_t number = sequenceNumber_ + 1;
    std::uint64_t target = sequenceDone_;
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        for (std::size_t s = 0; s < threads; ++s) {
            stretch(k, s).store(stretchWord(number, 0, chunks[k][s]), std::memory_order_relaxed);
            target += chunks[k][s];
            const Ahead range = ahead.empty() ? Ahead {} : ahead[k * threads + s];
            std::atomic<std::uintptr_t>* words = ahead_.get() + 4 * (k * threads + s);
            words[0].store(reinterpret_cast<std::uintptr_t>(range.data), std::memory_order_relaxed);
            words[1].store(range.bytes, std::memory_order_relaxed);
            words[2].store(range.bytes > 0 ? range.rows : 0, std::memory_order_relaxed);
            words[3].store(range.stride, std::memory_order_relaxed);
        }
        sequenceTargets_[k].store(target, std::memory_order_relaxed);
        early_[k].store(early.empty() ? 0 : early[k], std::memory_order_relaxed);
    }
    ++sequenceNumber_;
    control_.sequenceWork.store((sequenceNumber_ << loopCountBits) | chunks.size(), std::memory_order_release);
    loopNumber_ = (loopNumber_ + 1) & loopMask;
    control_.work.store(sequenceFlag | (loopNumber_ << (2 * indexBits)), std::memory_order_release);
    control_.wake.fetch_add(1, std::memory_order_acq_rel);
    control_.wake.notify_all();
    runSequence(0, control_.sequenceWork.load(std::memory_order_relaxed));
    sequenceDone_ += total;
    awaitDone(sequenceDone_, control_.sequenceWork.load(std::memory_order_relaxed), [] { return false; });
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
