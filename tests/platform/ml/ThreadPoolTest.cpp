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

// Runs a sequence of one to four loops of 0-12 chunks per stretch and checks that every chunk
// ran once, that no chunk of a loop started before every chunk of the loop before had finished,
// and that each slot entered a loop once, before its first chunk of it. In odd rounds the odd
// loops start early and wait for the loop before themselves.
void expectSequenceInOrder(ThreadPool& pool, int round)
{
    const std::size_t threads = static_cast<std::size_t>(pool.threadCount());
    const std::size_t loops = 1 + static_cast<std::size_t>(round % 4);
    std::vector<std::vector<std::uint16_t>> chunks(loops, std::vector<std::uint16_t>(threads));
    std::vector<int> totals(loops, 0);
    for (std::size_t k = 0; k < loops; ++k) {
        for (std::size_t s = 0; s < threads; ++s) {
            chunks[k][s] = static_cast<std::uint16_t>((round * 7 + static_cast<int>(s) * 3 + static_cast<int>(k) * 5) % 13);
            totals[k] += chunks[k][s];
        }
    }
    std::vector<std::vector<std::vector<std::atomic<int>>>> visits(loops);
    for (std::size_t k = 0; k < loops; ++k) {
        for (std::size_t s = 0; s < threads; ++s) {
            visits[k].emplace_back(chunks[k][s]);
        }
    }
    std::vector<std::atomic<std::size_t>> finished(loops);
    std::vector<std::uint8_t> early(loops, 0);
    for (std::size_t k = 1; k < loops; k += 2) {
        early[k] = round % 2;
    }
    const auto awaitEarlier = [&](std::size_t k) {
        if (k < loops && early[k]) {
            ThreadPool::awaitAtLeast(finished[k - 1], static_cast<std::size_t>(totals[k - 1]));
        }
    };
    std::vector<std::vector<std::atomic<int>>> entered(loops);
    for (auto& loop : entered) {
        loop = std::vector<std::atomic<int>>(threads);
    }
    std::atomic<int> faults {0};
    // Where each slot's first chunk lies, to be asked for ahead: any address is harmless.
    std::vector<float> memory(4096);
    std::vector<ThreadPool::Ahead> ahead(loops * threads, {memory.data(), 1000, 3, 4096});
    pool.parallelForSequence(
        chunks, ahead,
        [&](int slot, std::size_t k) {
            awaitEarlier(k);
            if (slot < 0 || static_cast<std::size_t>(slot) >= threads || k >= loops || entered[k][static_cast<std::size_t>(slot)]++ != 0
                || (k > 0 && finished[k - 1].load() != static_cast<std::size_t>(totals[k - 1]))) {
                ++faults;
            }
        },
        [&](int slot, std::size_t k, std::size_t stretch, std::size_t begin, std::size_t end) {
            awaitEarlier(k);
            if (slot < 0 || static_cast<std::size_t>(slot) >= threads || k >= loops || stretch >= threads || begin >= end
                || end > chunks[k][stretch] || entered[k][static_cast<std::size_t>(slot)].load() != 1
                || (k > 0 && finished[k - 1].load() != static_cast<std::size_t>(totals[k - 1]))) {
                ++faults;
                return;
            }
            for (std::size_t c = begin; c < end; ++c) {
                visits[k][stretch][c].fetch_add(1);
            }
            finished[k].fetch_add(end - begin);
        },
        early);
    ASSERT_EQ(faults.load(), 0) << "round " << round;
    for (std::size_t k = 0; k < loops; ++k) {
        for (std::size_t s = 0; s < threads; ++s) {
            for (std::size_t c = 0; c < chunks[k][s]; ++c) {
                ASSERT_EQ(visits[k][s][c].load(), 1) << "chunk " << c << " of stretch " << s << " of loop " << k << " in round " << round;
            }
        }
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
        // Many loops back to back, sequences among them: workers must never run a range of a
        // loop that has finished.
        for (int round = 0; round < 300; ++round) {
            expectEachIndexOnce(pool, 37 + static_cast<std::size_t>(round % 11), 2);
            expectSequenceInOrder(pool, round);
        }
    }
}

TEST(ThreadPool, ASequenceGivesTheChunksOfAHeldThreadToTheOthers)
{
    ThreadPool pool(4);
    const std::vector<std::vector<std::uint16_t>> loops {{40, 2, 0, 3}};
    const std::vector<std::uint16_t>& chunks = loops[0];
    std::atomic<int> visited {0};
    std::vector<std::atomic<int>> runBy(chunks[0]);
    std::atomic<bool> holding {false};
    int holder = -1;
    std::size_t heldBegin = 0, heldEnd = 0;
    pool.parallelForSequence(loops, {}, [](int, std::size_t) {}, [&](int slot, std::size_t, std::size_t stretch, std::size_t begin, std::size_t end) {
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
            // A sequence started while the other caller holds the pool runs on this thread alone.
            expectSequenceInOrder(pool, round);
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

    // A window's cross-attention state (2 to 4 MiB for the smaller models) must be able to sit on
    // huge pages: every block of a huge page or more starts on one.
    constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
    for (const std::size_t mebibytes : {2, 3, 5}) {
        auto large = buffers->halves(mebibytes << 19);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.get()) % hugePage, 0u) << mebibytes << " MiB";
    }

    MultiArray array = buffers->array({2, 3}, MultiArrayDataType::float16);
    EXPECT_TRUE(array.isPacked());
    array.fill(1.5);
    buffers.reset();
    EXPECT_EQ(array.value({1, 2}), 1.5) << "arrays keep their storage after the pool is gone";
}
