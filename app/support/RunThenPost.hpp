#pragma once

#include "app/support/MainThreadPoster.hpp"

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

namespace parlino {

// Queues `then` on the thread of `context`. Qt drops what is still queued for an object once it is
// destroyed; so a worker posting to a QObject must itself be waited for before the object goes.
template <typename Then>
void postTo(QObject* context, Then then)
{
    QMetaObject::invokeMethod(context, std::move(then), Qt::QueuedConnection);
}

// Queues `then` through `poster`, which drops it once closed.
template <typename Then>
void postTo(const std::shared_ptr<MainThreadPoster>& poster, Then then)
{
    poster->post(std::move(then));
}

// Runs `work` on `pool`, then `then(result)` on the thread of `context` (a QObject or a poster), with
// the guarantee `postTo` gives for that context. `work` must not throw.
template <typename Context, typename Work, typename Then>
void runThenPost(QThreadPool& pool, Context context, Work work, Then then)
{
    pool.start([context = std::move(context), work = std::move(work), then = std::move(then)]() mutable {
        // Shared, so that the posted call stays copyable whatever the result is.
        auto result = std::make_shared<std::invoke_result_t<Work&>>(work());
        postTo(context, [then = std::move(then), result]() mutable { then(std::move(*result)); });
    });
}

} // namespace parlino
