#include "Auris/Text/ProgressQueue.hpp"

#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <stdexcept>

using namespace auris;

TEST(SerialProgressQueue, RunsItemsInOrderOnOneWorkerAndSurvivesFailingItems)
{
    testsupport::CapturedLog log(Logging::LogLevel::error);
    SerialProgressQueue queue;
    std::mutex mutex;
    std::vector<int> order;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        queue.post([&, i] {
            if (i == 10) throw std::runtime_error("callback failed");
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.insert(std::this_thread::get_id());
        });
    }
    queue.waitUntilIdle();
    ASSERT_EQ(order.size(), 49u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_FALSE(threads.contains(std::this_thread::get_id()));
    EXPECT_EQ(log.lines(), (std::vector<std::string> {"Progress callback error: callback failed"}));
}

TEST(SerialProgressQueue, DropsWaitingItemsWhenAnItemDestroysTheQueue)
{
    // A callback may release the last owner of the decoder, and with it the queue, on the worker.
    auto queue = std::make_unique<SerialProgressQueue>();
    std::atomic<int> ran {0};
    std::promise<void> posted;
    std::promise<void> done;
    queue->post([&] {
        posted.get_future().wait();
        ++ran;
        queue.reset();
        done.set_value();
    });
    queue->post([&] { ++ran; });
    posted.set_value();
    done.get_future().wait();
    EXPECT_FALSE(queue);
    EXPECT_EQ(ran.load(), 1);
}
