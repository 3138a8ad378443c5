#include "platform/ml/programs/kernels/BufferPool.hpp"
#include "platform/ml/programs/kernels/ThreadPool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using namespace ml;

namespace {

// Runs one loop and checks that every index was visited exactly once, by a valid slot.
void expectEachIndexOnce(ThreadPool& pool, std::size_t count, std::size_t grain)
{
    std::vector<std::atomic<int>> visits(count);
    std::atomic<bool> slotsValid {true};
    pool.parallelForWithSlot(count, grain, [&](int slot, std::size_t begin, std::size_t end) {
        if (slot < 0 || slot >= pool.threadCount() || end - begin > grain || begin >= end) {
            slotsValid = false;
        }
        for (std::size_t i = begin; i < end; ++i) {
            visits[i].fetch_add(1);
        }
    });
    EXPECT_TRUE(slotsValid);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(visits[i].load(), 1) << "index " << i << " of " << count << " in grains of " << grain;
    }
}

} // namespace

TEST(ThreadPool, CoversEveryIndexOnceForAnyCountAndGrain)
{
    for (int threads : {1, 3, 8}) {
        ThreadPool pool(threads);
        EXPECT_EQ(pool.threadCount(), threads);
        for (std::size_t count : {0u, 1u, 7u, 64u, 1000u, 4099u}) {
            for (std::size_t grain : {1u, 3u, 64u, 5000u}) {
                expectEachIndexOnce(pool, count, grain);
            }
        }
        // Many loops back to back, pinned ones among them: workers must never run a range of a
        // loop that has finished.
        for (int round = 0; round < 300; ++round) {
            expectEachIndexOnce(pool, 37 + static_cast<std::size_t>(round % 11), 2);
            const std::size_t ranges = 1 + static_cast<std::size_t>(round % 40);
            std::vector<std::atomic<int>> visits(ranges);
            pool.parallelForPinned(ranges, [&](int slot, std::size_t r) {
                if (slot >= 0 && slot < pool.threadCount()) {
                    visits[r].fetch_add(1);
                }
            });
            for (std::size_t r = 0; r < ranges; ++r) {
                ASSERT_EQ(visits[r].load(), 1) << "range " << r << " of " << ranges << " in a pinned loop";
            }
            std::vector<std::uint16_t> chunks(static_cast<std::size_t>(threads));
            for (std::size_t s = 0; s < chunks.size(); ++s) {
                chunks[s] = static_cast<std::uint16_t>((round * 7 + static_cast<int>(s) * 3) % 13);
            }
            std::vector<std::vector<std::atomic<int>>> chunkVisits(chunks.size());
            for (std::size_t s = 0; s < chunks.size(); ++s) {
                chunkVisits[s] = std::vector<std::atomic<int>>(chunks[s]);
            }
            pool.parallelForStretches(chunks, [&](int slot, std::size_t stretch, std::size_t begin, std::size_t end) {
                if (slot >= 0 && slot < pool.threadCount() && begin < end && end <= chunks[stretch]) {
                    for (std::size_t c = begin; c < end; ++c) {
                        chunkVisits[stretch][c].fetch_add(1);
                    }
                }
            });
            for (std::size_t s = 0; s < chunks.size(); ++s) {
                for (std::size_t c = 0; c < chunks[s]; ++c) {
                    ASSERT_EQ(chunkVisits[s][c].load(), 1) << "chunk " << c << " of stretch " << s << " in round " << round;
                }
            }
        }
    }
}

TEST(ThreadPool, AStretchLoopGivesTheChunksOfAHeldThreadToTheOthers)
{
    ThreadPool pool(4);
    const std::vector<std::uint16_t> chunks {40, 2, 0, 3};
    std::atomic<int> visited {0};
    std::vector<std::atomic<int>> runBy(chunks[0]);
    std::atomic<bool> holding {false};
    int holder = -1;
    std::size_t heldBegin = 0, heldEnd = 0;
    pool.parallelForStretches(chunks, [&](int slot, std::size_t stretch, std::size_t begin, std::size_t end) {
        for (std::size_t c = begin; c < end; ++c) {
            if (stretch == 0) {
                runBy[c].store(slot);
            }
        }
        visited.fetch_add(static_cast<int>(end - begin));
        // The first thread to run any of the first stretch stops there until the others have run
        // every other chunk.
        if (stretch == 0 && !holding.exchange(true)) {
            holder = slot;
            heldBegin = begin;
            heldEnd = end;
            while (visited.load() < 45) {
                std::this_thread::yield();
            }
        }
    });
    EXPECT_EQ(visited.load(), 45);
    ASSERT_GE(holder, 0);
    for (std::size_t c = 0; c < chunks[0]; ++c) {
        if (c < heldBegin || c >= heldEnd) {
            EXPECT_NE(runBy[c].load(), holder) << "chunk " << c << " waited for the held thread";
        }
    }
}

TEST(ThreadPool, CallersSharingAPoolEachGetTheirWholeLoop)
{
    ThreadPool pool(4);
    std::atomic<long> totals[2] = {0, 0};
    auto caller = [&](int which) {
        for (int round = 0; round < 200; ++round) {
            pool.parallelFor(100, 7, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    totals[which].fetch_add(static_cast<long>(i));
                }
            });
        }
    };
    std::thread first(caller, 0);
    std::thread second(caller, 1);
    first.join();
    second.join();
    EXPECT_EQ(totals[0].load(), 200L * 4950);
    EXPECT_EQ(totals[1].load(), 200L * 4950);
}

TEST(BufferPool, ReusesReleasedBlocksAndOutlivesItsArrays)
{
    auto buffers = BufferPool::create();
    float* first = nullptr;
    {
        auto block = buffers->floats(1000);
        first = block.get();
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 64, 0u);
    }
    EXPECT_EQ(buffers->floats(900).get(), first) << "a released block of fitting size comes back";
    auto held = buffers->floats(1000);
    EXPECT_NE(buffers->floats(1000).get(), held.get()) << "a held block is never handed out twice";

    MultiArray array = buffers->array({2, 3}, MultiArrayDataType::float16);
    EXPECT_TRUE(array.isPacked());
    array.fill(1.5);
    buffers.reset();
    EXPECT_EQ(array.value({1, 2}), 1.5) << "arrays keep their storage after the pool is gone";
}
