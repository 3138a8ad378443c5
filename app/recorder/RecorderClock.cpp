#include "app/recorder/RecorderClock.hpp"

#include <QTimer>

namespace parlino {

namespace {

class QtTimer final : public RecorderTimer {
public:
    QtTimer(std::chrono::milliseconds interval, bool repeats, std::function<void()> tick)
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(interval);
        timer_.setSingleShot(!repeats);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(tick));
        timer_.start();
    }

private:
    QTimer timer_;
};

} // namespace

QDateTime SystemRecorderClock::now() const
{
    return QDateTime::currentDateTime();
}

std::unique_ptr<RecorderTimer> SystemRecorderClock::schedule(std::chrono::milliseconds interval, bool repeats,
    std::function<void()> tick)
{
    return std::make_unique<QtTimer>(interval, repeats, std::move(tick));
}

} // namespace parlino
