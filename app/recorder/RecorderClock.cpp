#include "app/recorder/RecorderClock.hpp"

#include <QTimer>

namespace parlino {

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return static_cast<double>(from.msecsTo(to)) / 1000.0;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
