#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <chrono>

namespace testsupport {

// Runs the event loop until `condition` holds or `timeout` passes; true when it holds. For waiting on
// work that finishes on other threads and posts back, never for letting time pass.
template <typename Condition>
bool processEventsUntil(Condition&& condition, std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    return QTest::qWaitFor(std::forward<Condition>(condition), static_cast<int>(timeout.count()));
}

} // namespace testsupport
