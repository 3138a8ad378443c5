#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace platform::input {
class XEventSource;
}

namespace parlino {

// Runs an X input object's events from the Qt event loop: when its connection turns readable, and
// before the loop sleeps while Xlib still holds events it read ahead. `afterDispatch` runs after each
// dispatch, outside the source's own handlers, so it may destroy the source's owner only by posting.
class XEventNotifier final : public QObject {
    Q_OBJECT

public:
    XEventNotifier(platform::input::XEventSource& source, std::function<void()> afterDispatch = {},
                   QObject* parent = nullptr);
    ~XEventNotifier() override;

private:
    void dispatch();

    platform::input::XEventSource& source_;
    std::function<void()> afterDispatch_;
    QSocketNotifier* notifier_;
};

} // namespace parlino
