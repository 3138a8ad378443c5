#include "Auris/Engine/BoundedWorkers.hpp"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace auris {

BoundedWorkers::BoundedWorkers(int helperLimit)
    : helperLimit_(std::max(0, helperLimit))
    , available_(helperLimit_)
{
}

int BoundedWorkers::helperLimit() const
{
    std::lock_guard lock(mutex_);
    return helperLimit_;
}

void BoundedWorkers::raiseLimit(int helperLimit)
{
    std::lock_guard lock(mutex_);
    if (helperLimit > helperLimit_) {
        available_ += helperLimit - helperLimit_;
        helperLimit_ = helperLimit;
    }
}

int BoundedWorkers::machineHelperLimit()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency())) - 1;
}

bool BoundedWorkers::takeHelper()
{
    std::lock_guard lock(mutex_);
    if (available_ == 0) {
        return false;
    }
    --available_;
    return true;
}

void BoundedWorkers::returnHelper()
{
    std::lock_guard lock(mutex_);
    ++available_;
}

void BoundedWorkers::run(std::size_t count, const std::function<void(std::size_t index)>& body, std::size_t threadLimit)
{
    std::atomic<std::size_t> next {0};
    auto work = [&] {
        for (std::size_t index = next++; index < count; index = next++) {
            body(index);
        }
    };
    const std::size_t threads = std::min(count, threadLimit);
    {
        std::vector<std::jthread> helpers;
        for (std::size_t wanted = threads > 0 ? threads - 1 : 0; wanted > 0 && takeHelper(); --wanted) {
            try {
                helpers.emplace_back([&] {
                    work();
                    returnHelper();
                });
            } catch (const std::system_error&) {
                // The system has no thread to spare: the threads already running do the rest.
                returnHelper();
                break;
            }
        }
        work();
    }
}

} // namespace auris
