#include "Hub/Progress.hpp"

#include <algorithm>
#include <cstdio>

namespace hub {

Progress::Progress(std::int64_t totalUnitCount)
    : total_(totalUnitCount)
{
}

std::int64_t Progress::totalUnitCount() const
{
    std::lock_guard lock(mutex_);
    return total_;
}

void Progress::setTotalUnitCount(std::int64_t count)
{
    std::lock_guard lock(mutex_);
    total_ = count;
}

std::int64_t Progress::completedUnitCount() const
{
    std::lock_guard lock(mutex_);
    std::int64_t completed = completed_;
    // Children are locked after their parent, never the other way round.
    for (const auto& child : children_) {
        if (child.progress->isFinished()) {
            completed += child.pendingUnitCount;
        }
    }
    return completed;
}

void Progress::setCompletedUnitCount(std::int64_t count)
{
    std::lock_guard lock(mutex_);
    completed_ = count;
}

void Progress::addChild(std::shared_ptr<Progress> child, std::int64_t pendingUnitCount)
{
    if (!child || child.get() == this) {
        return;
    }
    std::lock_guard lock(mutex_);
    children_.push_back({ std::move(child), pendingUnitCount });
}

double Progress::fractionCompleted() const
{
    std::lock_guard lock(mutex_);
    if (total_ <= 0) {
        return 0;
    }
    double units = static_cast<double>(completed_);
    for (const auto& child : children_) {
        units += static_cast<double>(child.pendingUnitCount) * child.progress->fractionCompleted();
    }
    return std::clamp(units / static_cast<double>(total_), 0.0, 1.0);
}

bool Progress::isFinished() const
{
    const std::int64_t total = totalUnitCount();
    return total > 0 && completedUnitCount() >= total;
}

std::string Progress::description() const
{
    char text[128];
    std::snprintf(text, sizeof text, "Fraction completed: %.4f / Completed: %lld of %lld", fractionCompleted(),
        static_cast<long long>(completedUnitCount()), static_cast<long long>(totalUnitCount()));
    return text;
}

} // namespace hub
