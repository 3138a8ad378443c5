#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
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

    // Runs stretch loops one after another on every thread without coming back to the caller in
    // between: a thread starts on loop k once every chunk of loop k - 1 is done, and calls
    // enter(slot, k) before the first chunk of loop k it runs, to make what its chunks read (a
    // thread preparing its own copy of a small input costs less than the caller preparing one
    // and handing it over). Loop k calls body(slot, k, stretch, begin, end) on disjoint chunk
    // ranges that together cover [0, chunks[k][s]) of every stretch s < threadCount(). Slot s runs
    // its own stretch from the front, two chunks at a time, so it reads the same memory every step;
    // a slot done with its own takes half of what is left (eight chunks at most) from the back of
    // the stretch with most left: small chunks, so that the loops end close together. Threads on
    // the same machine stream at very different rates (cores sharing one memory link, cores other
    // work takes), so equal shares would leave every loop to the slowest.
    // While slot s waits for loop k to start it asks for the memory ahead[k * threadCount() + s]
    // (what its first chunk reads, when that needs nothing of earlier loops), which turns the
    // wait into streaming; `ahead` may be empty.
    using EnterBody = std::function<void(int slot, std::size_t loop)>;
    using SequenceBody = std::function<void(int slot, std::size_t loop, std::size_t stretch, std::size_t begin, std::size_t end)>;
    // `rows` runs of `bytes` bytes, `stride` bytes apart.
    struct Ahead {
        const void* data = nullptr;
        std::size_t bytes = 0;
        std::size_t rows = 1;
        std::size_t stride = 0;
    };
    static constexpr std::size_t maximumChunks = 0xffff;
    static constexpr std::size_t maximumSequenceLoops = 1024;
    // A loop k with early[k] set starts on a thread as soon as nothing of loop k - 1 is left for it
    // to take, without waiting for the chunks the others still run: its enter and chunks must
    // wait themselves for what they read of loop k - 1 (awaitAtLeast on counters its chunks
    // raise). Every chunk of loop k - 1 is running by then, so such waits end.
    void parallelForSequence(std::span<const std::vector<std::uint16_t>> chunks, std::span<const Ahead> ahead, const EnterBody& enter,
        const SequenceBody& body, std::span<const std::uint8_t> early = {});
    // Spins until `value` is at least `target`.
    static void awaitAtLeast(const std::atomic<std::size_t>& value, std::size_t target);

private:
    void workerLoop(int slot);
    // Takes and runs ranges of the current loop until none is left.
    void runRanges(int slot);
    void runSequence(int slot, std::uint64_t work);
    // The sum of every slot's done counter reaching `target`; false if sequence `work` ended
    // first. Calls idle() between looks until it returns false.
    template<typename Idle>
    bool awaitDone(std::uint64_t target, std::uint64_t work, Idle&& idle) const;
    std::atomic<std::uint64_t>& stretch(std::size_t loop, std::size_t slot) const
    {
        return stretches_[loop / wordsPerLine * done_.size() + slot].words[loop % wordsPerLine];
    }

    struct alignas(64) Counter {
        std::atomic<std::uint64_t> value {0};
    };

    std::vector<std::thread> workers_;
    std::mutex busy_;
    std::atomic<bool> stopping_ {false};
    // What idle workers watch, on one cache line that only the caller writes while workers wait, so
    // that one transfer tells a worker everything about the next loop.
    struct alignas(64) Control {
        std::atomic<std::uint32_t> wake {0};
        // The current loop: its number, its range count and the next range to take, in one word
        // so that a range is only ever taken from the loop it belongs to; the top bit marks a
        // sequence.
        std::atomic<std::uint64_t> work {0};
        // The current sequence as (number << 16 | loop count); its number never repeats.
        std::atomic<std::uint64_t> sequenceWork {0};
        // Written by the caller only while no range of the loop is taken or running.
        const SlotRangeBody* body = nullptr;
        std::size_t count = 0;
        std::size_t grain = 1;
    } control_;
    alignas(64) std::atomic<std::uint32_t> finished_ {0};
    std::uint64_t loopNumber_ = 0;
    std::uint64_t sequenceNumber_ = 0;
    // done_[slot]: the chunks of sequences that slot has run, written by it alone.
    std::vector<Counter> done_;
    // Stretch s of loop k of a sequence as (sequence number << 32 | front << 16 | back): its chunks
    // [front, back) are left. Written by the caller before the sequence starts, so a thread that
    // finds another number knows the sequence has ended. Only one loop runs at a time, so the words
    // of eight loops share a line of their slot's.
    static constexpr std::size_t wordsPerLine = 8;
    struct alignas(64) StretchLine {
        std::atomic<std::uint64_t> words[wordsPerLine] {};
    };
    std::unique_ptr<StretchLine[]> stretches_;
    // sequenceTargets_[k]: the done total once loops 0 to k of the current sequence are done.
    std::unique_ptr<std::atomic<std::uint64_t>[]> sequenceTargets_;
    const EnterBody* enterBody_ = nullptr;
    const SequenceBody* sequenceBody_ = nullptr;
    // The current sequence's Ahead ranges as (address, bytes, rows, stride), atomic because a thread
    // that comes late may read those of the next sequence; asking for any address is harmless.
    std::unique_ptr<std::atomic<std::uintptr_t>[]> ahead_;
    std::unique_ptr<std::atomic<std::uint8_t>[]> early_; // the current sequence's early flags
    std::uint64_t sequenceDone_ = 0;
};

} // namespace ml
