#include "Auris/Text/ProgressQueue.hpp"

#include "Auris/Utilities/Logging.hpp"

#include <exception>

namespace auris {

SerialProgressQueue::~SerialProgressQueue()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->items.clear();
    }
    state_->wake.notify_all();
    state_->idle.notify_all();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();
        } else {
            worker_.join();
        }
    }
}

void SerialProgressQueue::post(std::function<void()> workItem)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) {
            return;
        }
        state_->items.push_back(std::move(workItem));
        if (!worker_.joinable()) {
            worker_ = std::thread([state = state_] { run(state); });
        }
    }
    state_->wake.notify_one();
}

void SerialProgressQueue::waitUntilIdle()
{
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [this] { return state_->stopping || (state_->items.empty() && !state_->running); });
}

void SerialProgressQueue::run(const std::shared_ptr<State>& state)
{
    std::unique_lock lock(state->mutex);
    while (true) {
        state->wake.wait(lock, [&] { return state->stopping || !state->items.empty(); });
        if (state->stopping) {
            return;
        }
        auto item = std::move(state->items.front());
        state->items.pop_front();
        state->running = true;
        lock.unlock();
        try {
            item();
        } catch (const std::exception& error) {
            // A failing caller callback must not take the worker down with it.
            Logging::error(std::string("Progress callback error: ") + error.what());
        } catch (...) {
            Logging::error("Progress callback error");
        }
        item = nullptr;
        lock.lock();
        state->running = false;
        if (state->items.empty()) {
            state->idle.notify_all();
        }
    }
}

} // namespace auris
