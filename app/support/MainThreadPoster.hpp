#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

namespace parlino {

// Hands work from any thread to a QObject's own thread for as long as the object allows it: once
// `close` has returned, posts are dropped, so a late result never reaches a destroyed object.
// Shared by every worker that reports back.
class MainThreadPoster {
public:
    explicit MainThreadPoster(QObject* target)
        : target_(target)
    {
    }

    void post(std::function<void()> work) const
    {
        std::lock_guard lock(mutex_);
        if (target_) {
            QMetaObject::invokeMethod(target_, std::move(work), Qt::QueuedConnection);
        }
    }

    void close()
    {
        std::lock_guard lock(mutex_);
        target_ = nullptr;
    }

private:
    mutable std::mutex mutex_;
    QObject* target_;
};

} // namespace parlino
