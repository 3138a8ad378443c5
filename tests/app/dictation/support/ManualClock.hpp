#pragma once

#include "app/dictation/Clock.hpp"

#include <QPointer>

#include <map>
#include <utility>

namespace dictationtest {

// Time that moves only when the test says; due steps run in time order, including those that
// earlier steps schedule within the advanced span.
class ManualClock final : public parlino::Clock {
public:
    TimePoint now() const override { return now_; }

    void schedule(Duration delay, QObject* context, std::function<void()> action) override
    {
        pending_.emplace(std::pair {now_ + delay, order_++}, Step {QPointer(context), std::move(action)});
    }

    void advance(Duration span)
    {
        const TimePoint end = now_ + span;
        while (!pending_.empty() && pending_.begin()->first.first <= end) {
            auto step = pending_.extract(pending_.begin());
            now_ = step.key().first;
            if (step.mapped().context) {
                step.mapped().action();
            }
        }
        now_ = end;
    }

    std::size_t pendingCount() const { return pending_.size(); }

private:
    struct Step {
        QPointer<QObject> context;
        std::function<void()> action;
    };

    TimePoint now_ {std::chrono::hours(1)};
    std::uint64_t order_ = 0;
    std::map<std::pair<TimePoint, std::uint64_t>, Step> pending_;
};

} // namespace dictationtest
