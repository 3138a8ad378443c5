#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace auris {

// Where the text decoder runs its progress work items: one after another, in the order posted.
class ProgressQueue {
public:
    virtual ~ProgressQueue() = default;
    virtual void post(std::function<void()> workItem) = 0;
};

// One worker thread, started with the first work item. Items still waiting when the queue is
// destroyed are dropped; the one running is finished first.
class SerialProgressQueue final : public ProgressQueue {
public:
    SerialProgressQueue() = default;
    ~SerialProgressQueue() override;
    SerialProgressQueue(const SerialProgressQueue&) = delete;
    SerialProgressQueue& operator=(const SerialProgressQueue&) = delete;

    void post(std::function<void()> workItem) override;
    // Blocks until every item posted so far has run.
    void waitUntilIdle();

private:
    // Shared with the worker, which may outlive the queue when a work item releases its owner.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable idle;
        std::deque<std::function<void()>> items;
        bool running = false;
        bool stopping = false;
    };
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread worker_;
};

} // namespace auris
