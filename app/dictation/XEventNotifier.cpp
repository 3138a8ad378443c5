#include "app/dictation/XEventNotifier.hpp"

#include "platform/input/XEventSource.hpp"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <poll.h>

namespace parlino {

XEventNotifier::XEventNotifier(platform::input::XEventSource& source, std::function<void()> afterDispatch,
                               QObject* parent)
    : QObject(parent)
    , source_(source)
    , afterDispatch_(std::move(afterDispatch))
    , notifier_(new QSocketNotifier(source.fd(), QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &XEventNotifier::dispatch);
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (source_.hasQueuedEvents()) {
                dispatch();
            }
        });
    }
    // Events may have been read ahead while the source was being set up.
    if (source_.hasQueuedEvents()) {
        QMetaObject::invokeMethod(this, &XEventNotifier::dispatch, Qt::QueuedConnection);
    }
}

XEventNotifier::~XEventNotifier() = default;

void XEventNotifier::dispatch()
{
    if (!notifier_->isEnabled()) {
        return;
    }
    source_.dispatch();
    // A connection whose server went away stays readable for ever: stop listening to it.
    pollfd connection {source_.fd(), POLLRDHUP, 0};
    if (::poll(&connection, 1, 0) > 0 && (connection.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
        notifier_->setEnabled(false);
    }
    if (afterDispatch_) {
        afterDispatch_();
    }
}

} // namespace parlino
