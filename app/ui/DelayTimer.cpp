#include "app/ui/DelayTimer.hpp"

#include <QTimer>

namespace parlino {

void SystemDelayTimer::schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> step)
{
    QTimer::singleShot(delay, context, std::move(step));
}

} // namespace parlino
