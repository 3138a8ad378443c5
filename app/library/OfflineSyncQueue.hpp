#pragma once

#include <QList>
#include <QObject>
#include <QUuid>

namespace parlino {

// The state of a queue of uploads held back while the network is unreachable. Nothing queues yet:
// a failed upload is retried by the next full synchronisation, which uploads what the cloud lacks.
class OfflineSyncQueue : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY pendingCountChanged)

public:
    // Where the pending ids would persist.
    static constexpr const char* pendingUploadsKey = "offlineSyncPendingUploads";

    explicit OfflineSyncQueue(QObject* parent = nullptr);
    ~OfflineSyncQueue() override;

    bool isProcessing() const { return isProcessing_; }
    int pendingCount() const { return pendingCount_; }
    const QList<QUuid>& pendingUploads() const { return pendingUploads_; }

signals:
    void isProcessingChanged();
    void pendingCountChanged();

private:
    bool isProcessing_ = false;
    int pendingCount_ = 0;
    QList<QUuid> pendingUploads_;
};

} // namespace parlino
