#include "app/support/RunThenPost.hpp"

#include "qtsupport/QtTestSupport.hpp"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <memory>
#include <optional>

using namespace parlino;

namespace {

struct Seen {
    QThread* workThread = nullptr;
    QThread* thenThread = nullptr;
    std::optional<int> result;
};

// Work that notes its thread and gives a result that can only be moved; `then` notes its own.
template <typename Context>
void runNoting(QThreadPool& pool, Context context, const std::shared_ptr<Seen>& seen, int value)
{
    runThenPost(
        pool, std::move(context),
        [seen, value] {
            seen->workThread = QThread::currentThread();
            return std::make_unique<int>(value);
        },
        [seen](std::unique_ptr<int> result) {
            seen->thenThread = QThread::currentThread();
            seen->result = *result;
        });
}

TEST(RunThenPostTest, WorkRunsOnThePoolAndThenOnTheContextsThread)
{
    QThreadPool pool;
    QObject here;
    auto onObject = std::make_shared<Seen>();
    runNoting(pool, &here, onObject, 1);
    auto poster = std::make_shared<MainThreadPoster>(&here);
    auto onPoster = std::make_shared<Seen>();
    runNoting(pool, poster, onPoster, 2);
    pool.waitForDone();
    // Both are queued, not called from the worker.
    EXPECT_FALSE(onObject->result);
    EXPECT_FALSE(onPoster->result);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return onObject->result && onPoster->result; }));
    for (const auto& seen : {onObject, onPoster}) {
        EXPECT_NE(seen->workThread, QThread::currentThread());
        EXPECT_EQ(seen->thenThread, QThread::currentThread());
    }
    EXPECT_EQ(onObject->result, 1);
    EXPECT_EQ(onPoster->result, 2);

    // A context living on another thread gets `then` there.
    QThread other;
    other.start();
    QObject there;
    there.moveToThread(&other);
    std::promise<QThread*> ranOn;
    runThenPost(pool, &there, [] { return 0; }, [&ranOn](int) { ranOn.set_value(QThread::currentThread()); });
    EXPECT_EQ(ranOn.get_future().get(), &other);
    other.quit();
    other.wait();
}

TEST(RunThenPostTest, NothingRunsForAContextThatIsGone)
{
    QThreadPool pool;
    bool ran = false;
    const auto then = [&ran](int) { ran = true; };

    // Posted to an object that is destroyed before its thread comes to it.
    auto object = std::make_unique<QObject>();
    runThenPost(pool, object.get(), [] { return 0; }, then);
    pool.waitForDone();
    object.reset();

    // A poster closed while the work runs drops its result, its target alive or not.
    QObject target;
    auto closed = std::make_shared<MainThreadPoster>(&target);
    std::latch closing(1);
    runThenPost(
        pool, closed,
        [&closing] {
            closing.wait();
            return 0;
        },
        then);
    closed->close();
    closing.count_down();
    pool.waitForDone();

    // A poster still open whose target is destroyed first.
    auto doomed = std::make_unique<QObject>();
    runThenPost(pool, std::make_shared<MainThreadPoster>(doomed.get()), [] { return 0; }, then);
    pool.waitForDone();
    doomed.reset();

    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

} // namespace
