#include "Auris/Engine/BoundedWorkers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using auris::BoundedWorkers;

TEST(BoundedWorkers, EveryIndexOnceWithinTheThreadBudget)
{
    BoundedWorkers workers(2);
    std::atomic<int> active {0};
    std::atomic<int> mostActive {0};
    std::vector<std::atomic<int>> calls(200);
    auto body = [&](std::size_t index) {
        const int now = ++active;
        int seen = mostActive.load();
        while (now > seen && !mostActive.compare_exchange_weak(seen, now)) {
        }
        ++calls[index];
        --active;
    };
    // Nested runs share the budget with the outer one and never wait for a thread.
    workers.run(10, [&](std::size_t outer) {
        workers.run(20, [&](std::size_t inner) { body(outer * 20 + inner); });
    });

    EXPECT_TRUE(std::all_of(calls.begin(), calls.end(), [](const auto& count) { return count == 1; }));
    // Each outer index may run on its own thread, but threads beyond the caller come from one budget of two.
    EXPECT_LE(mostActive, 3);

    workers.run(0, [&](std::size_t) { ADD_FAILURE() << "no work"; });

    // A run's own thread limit holds below the budget.
    BoundedWorkers many(7);
    std::set<std::thread::id> threads;
    std::mutex threadsMutex;
    std::latch twoBusy(2);
    many.run(
        12,
        [&](std::size_t index) {
            {
                std::lock_guard lock(threadsMutex);
                threads.insert(std::this_thread::get_id());
            }
            if (index < 2) {
                // The first two calls meet, so the run does use both of its threads.
                twoBusy.arrive_and_wait();
            }
        },
        2);
    EXPECT_EQ(threads.size(), 2u);

    // A raised budget lets more helpers run at once; a lower one changes nothing.
    BoundedWorkers raised(1);
    raised.raiseLimit(3);
    raised.raiseLimit(2);
    EXPECT_EQ(raised.helperLimit(), 3);
    std::latch fourBusy(4);
    raised.run(4, [&](std::size_t) { fourBusy.arrive_and_wait(); });
}

TEST(BoundedWorkers, WithoutHelpersEverythingRunsOnTheCaller)
{
    BoundedWorkers workers(-3);
    EXPECT_EQ(workers.helperLimit(), 0);
    std::set<std::thread::id> threads;
    std::vector<std::size_t> order;
    workers.run(5, [&](std::size_t index) {
        threads.insert(std::this_thread::get_id());
        order.push_back(index);
    });
    EXPECT_EQ(threads, std::set<std::thread::id> {std::this_thread::get_id()});
    EXPECT_EQ(order, (std::vector<std::size_t> {0, 1, 2, 3, 4}));
    EXPECT_GE(BoundedWorkers::machineHelperLimit(), 0);
    EXPECT_LT(BoundedWorkers::machineHelperLimit(), static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
}
