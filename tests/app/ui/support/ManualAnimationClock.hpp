#pragma once

#include "app/ui/design/AnimationClock.hpp"

#include <QCoreApplication>

namespace uitest {

// An animation clock that moves only when the test says so, one 60th of a second per frame.
class ManualAnimationClock final : public parlino::design::AnimationClock {
    Q_OBJECT

public:
    using AnimationClock::AnimationClock;

    double now() const override { return now_; }
    bool isRunning() const { return running_; }

    void advance(double seconds)
    {
        const double end = now_ + seconds;
        while (now_ < end) {
            now_ = std::min(end, now_ + 1.0 / 60);
            emit ticked();
        }
        QCoreApplication::processEvents();
    }

protected:
    void setRunning(bool running) override { running_ = running; }

private:
    double now_ = 1000;
    bool running_ = false;
};

} // namespace uitest
