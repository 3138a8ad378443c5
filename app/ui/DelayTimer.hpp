#pragma once

#include <QObject>

#include <chrono>
#include <functional>

namespace parlino {

// Runs a step later on the main thread, unless its context object is gone by then: the waits of
// the screens (a readiness poll, for one). Real time in the application; tests step it by hand.
class DelayTimer {
public:
    virtual ~DelayTimer() = default;

    virtual void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> step) = 0;
};

class SystemDelayTimer final : public DelayTimer {
public:
    void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> step) override;
};

} // namespace parlino
