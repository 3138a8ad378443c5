#include "app/dictation/Clock.hpp"

#include <QTimer>

namespace parlino {

Clock::TimePoint SystemClock::now() const
{
    return std::chrono::steady_clock::now();
}

void SystemClock::schedule(Duration delay, QObject* context, std::function<void()> action)
{
    QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(action));
}

SystemClock& SystemClock::shared()
{
    static SystemClock clock;
    return clock;
}

} // namespace parlino
