#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace hub {

// Holds a value and hands it to subscribers: the current one at subscription, then every new one,
// synchronously on the thread that sends it. Once cancel() returns, a subscriber is not called again.
template <typename T>
class CurrentValuePublisher {
    struct State {
        std::recursive_mutex mutex;
        T value;
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, std::shared_ptr<std::function<void(const T&)>>> subscribers;
    };

public:
    class Subscription {
    public:
        Subscription() = default;
        Subscription(std::weak_ptr<State> state, std::uint64_t id)
            : state_(std::move(state))
            , id_(id)
        {
        }
        ~Subscription() { cancel(); }
        Subscription(Subscription&& other) noexcept
            : state_(std::exchange(other.state_, {}))
            , id_(other.id_)
        {
        }
        Subscription& operator=(Subscription&& other) noexcept
        {
            if (this != &other) {
                cancel();
                state_ = std::exchange(other.state_, {});
                id_ = other.id_;
            }
            return *this;
        }
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

        void cancel()
        {
            if (auto state = state_.lock()) {
                // Waits for a delivery in progress on another thread.
                std::lock_guard lock(state->mutex);
                state->subscribers.erase(id_);
            }
            state_.reset();
        }

    private:
        std::weak_ptr<State> state_;
        std::uint64_t id_ = 0;
    };

    explicit CurrentValuePublisher(T initial)
        : state_(std::make_shared<State>())
    {
        state_->value = std::move(initial);
    }

    T value() const
    {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }

    void send(T value)
    {
        std::lock_guard lock(state_->mutex);
        state_->value = value;
        std::vector<std::pair<std::uint64_t, std::shared_ptr<std::function<void(const T&)>>>> current(
            state_->subscribers.begin(), state_->subscribers.end());
        for (const auto& [id, subscriber] : current) {
            // A subscriber may cancel another one (or itself) while being called.
            if (state_->subscribers.contains(id)) {
                (*subscriber)(value);
            }
        }
    }

    [[nodiscard]] Subscription subscribe(std::function<void(const T&)> receiver)
    {
        std::lock_guard lock(state_->mutex);
        const std::uint64_t id = state_->nextId++;
        auto shared = std::make_shared<std::function<void(const T&)>>(std::move(receiver));
        state_->subscribers.emplace(id, shared);
        Subscription subscription(state_, id);
        (*shared)(state_->value);
        return subscription;
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace hub
