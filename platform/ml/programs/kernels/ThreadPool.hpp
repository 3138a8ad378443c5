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

    // Calls body(slot, r) once for every r in [0, ranges), for loops of a few microseconds. Range r
    // is first offered to slot r % threadCount(), so loops of one range count give the same work
    // to the same thread each time and what it fetched for a later loop waits in its own cache; a
    // thread done with its own ranges takes those its thread has not started. The threads
    // synchronise through cache lines of their own and the caller spins (yielding after a while)
    // instead of sleeping, so a loop costs about a microsecond. At most maximumPinnedRanges.
    using PinnedBody = std::function<void(int slot, std::size_t range)>;
    static constexpr std::size_t maximumPinnedRanges = 256;
    void parallelForPinned(std::size_t ranges, const PinnedBody& body);

    // Calls body(slot, stretch, begin, end) on disjoint chunk ranges that together cover
    // [0, chunks[s]) of every stretch s < threadCount(), for loops that stream memory. Slot s runs
    // its own stretch from the front, a chunk at a time, so it reads the same memory every loop; a
    // slot done with its own takes half of what is left from the back of the stretch with most
    // left. Threads on the same machine stream at very different rates (cores sharing one memory
    // link, cores other work takes), so equal shares would leave the loop to the slowest.
    using StretchBody = std::function<void(int slot, std::size_t stretch, std::size_t begin, std::size_t end)>;
    static constexpr std::size_t maximumChunks = 0xffff;
    void parallelForStretches(const std::vector<std::uint16_t>& chunks, const StretchBody& body);

private:
    void workerLoop(int slot);
    // Takes and runs ranges of the current loop until none is left.
    void runRanges(int slot);
    void runPinnedRanges(int slot);
    void runStretches(int slot, std::uint64_t work);
    // Publishes a pinned or stretch loop and runs the caller's part; `units` is the count of
    // ranges or chunks the loop adds to the done counters.
    void runPinnedLoop(std::uint64_t flags, std::uint64_t units);

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
        // pinned loop.
        std::atomic<std::uint64_t> work {0};
        // The current pinned loop as (number << 16 | flag | ranges); its number never repeats.
        std::atomic<std::uint64_t> pinnedWork {0};
        // Written by the caller only while no range of the loop is taken or running.
        const SlotRangeBody* body = nullptr;
        const PinnedBody* pinnedBody = nullptr;
        const StretchBody* stretchBody = nullptr;
        std::size_t count = 0;
        std::size_t grain = 1;
    } control_;
    alignas(64) std::atomic<std::uint32_t> finished_ {0};
    std::uint64_t loopNumber_ = 0;
    std::uint64_t pinnedNumber_ = 0;
    // Range r of a pinned loop is taken by raising claims_[r] from an older loop number to the
    // loop's; done_[slot] counts the pinned ranges that slot has run, written by it alone.
    std::vector<Counter> claims_;
    std::vector<Counter> done_;
    // Stretch s of a stretch loop as (loop number << 32 | front << 16 | back): its chunks
    // [front, back) are left. Written by the caller before the loop starts, so a thread that
    // finds another number knows the loop has ended.
    std::vector<Counter> stretches_;
    std::uint64_t pinnedDone_ = 0;
};

} // namespace ml
