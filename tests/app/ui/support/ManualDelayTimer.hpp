#pragma once

#include "app/ui/DelayTimer.hpp"

#include <QPointer>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

namespace uitest {

// A delay timer whose time passes only when the test says so.
class ManualDelayTimer final : public parlino::DelayTimer {
public:
    struct Step {
        std::chrono::milliseconds delay;
        QPointer<QObject> context;
        std::function<void()> run;
    };

    void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> step) override
    {
        pending.push_back({delay, context, std::move(step)});
    }

    // Lets the steps waiting now run, in order; those they schedule wait for the next call.
    // Returns how many were waiting.
    std::size_t elapse()
    {
        const std::vector<Step> due = std::exchange(pending, {});
        for (const Step& step : due) {
            if (step.context) {
                step.run();
            }
        }
        return due.size();
    }

    std::vector<Step> pending;
};

} // namespace uitest
