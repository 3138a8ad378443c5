#include "app/library/OfflineSyncQueue.hpp"

namespace parlino {

OfflineSyncQueue::OfflineSyncQueue(QObject* parent)
    : QObject(parent)
{
}

OfflineSyncQueue::~OfflineSyncQueue() = default;

} // namespace parlino
