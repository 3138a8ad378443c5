#include "app/ui/design/AnimationClock.hpp"

namespace parlino::design {

void AnimationClock::beginActivity()
{
    if (activities_++ == 0) {
        setRunning(true);
    }
}

void AnimationClock::endActivity()
{
    if (activities_ > 0 && --activities_ == 0) {
        setRunning(false);
    }
}

SystemAnimationClock::SystemAnimationClock(QObject* parent)
    : AnimationClock(parent)
{
    elapsed_.start();
    frameTimer_.setInterval(16);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &AnimationClock::ticked);
}

double SystemAnimationClock::now() const
{
    return static_cast<double>(elapsed_.nsecsElapsed()) / 1e9;
}

void SystemAnimationClock::setRunning(bool running)
{
    if (running) {
        frameTimer_.start();
    } else {
        frameTimer_.stop();
    }
}

} // namespace parlino::design
