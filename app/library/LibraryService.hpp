#pragma once

#include "app/recorder/Recording.hpp"
#include "app/recorder/RecordingCategory.hpp"
#include "app/recorder/RecordingResult.hpp"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUuid>

#include <filesystem>
#include <functional>
#include <optional>

namespace parlino {

// What the screens and the dictation road use of the recordings library: the list of saved
// recordings, newest first, and the operations on them. The library itself and the fakes of the UI
// tests derive from it. Everything here is read, written and called on the Qt main thread.
//
// The list changes only through the protected setters; each change notifies once.
class LibraryService : public QObject {
    Q_OBJECT

public:
    using Completion = std::function<void()>;

    explicit LibraryService(QObject* parent = nullptr);
    ~LibraryService() override;

    const QList<Recording>& recordings() const { return recordings_; }
    // The recording with this id as the list holds it now, if it is there.
    std::optional<Recording> recording(const QUuid& id) const;
    // Where the list holds the recording with this id; a look-up, not a scan.
    std::optional<qsizetype> indexOf(const QUuid& id) const;
    std::optional<QUuid> latestSavedRecordingID() const { return latestSavedRecordingID_; }
    // For the screen that has acted on the recording saved last.
    void clearLatestSavedRecordingID() { setLatestSavedRecordingID(std::nullopt); }

    // The folder the audio files and their sidecars lie in.
    virtual std::filesystem::path documentsURL() const = 0;

    // Reloads from the folder and publishes before returning; failures are logged, not thrown.
    virtual void loadRecordings() = 0;
    // The same when the list is opened again: may scan in the background and publish later, and
    // then publishes only a folder that changed.
    virtual void refreshRecordings() { loadRecordings(); }
    // One full sync with the cloud store; logs its own outcome. The completion runs on the main
    // thread when it is over.
    virtual void syncWithCloud(Completion completion = {}) = 0;
    // Whether a sync can reach a cloud store at all; without one it only logs that it skipped.
    virtual bool canSyncWithCloud() const = 0;

    // Throws when the result has no audio or its sidecar cannot be written. Returns the recording
    // now at the front of the list.
    virtual Recording saveRecording(const RecordingResult& result) = 0;
    // Throws when the audio or sidecar cannot be removed; an id not in the list changes nothing.
    virtual void deleteRecording(const Recording& recording) = 0;
    virtual void updateCategory(const Recording& recording, RecordingCategory category) = 0;
    virtual void updateTitle(const Recording& recording, const QString& title) = 0;
    virtual void updateTranscription(const Recording& recording, const QString& transcription) = 0;

signals:
    void recordingsChanged();
    void latestSavedRecordingIDChanged();
    // A sync with the cloud store failed, with the reason; emitted before its completion runs.
    void syncFailed(const QString& reason);

protected:
    void setRecordings(QList<Recording> recordings);
    // Moves the list out for a change that ends with setRecordings; nothing is published between.
    QList<Recording> takeRecordings();
    void setLatestSavedRecordingID(std::optional<QUuid> id);

private:
    QList<Recording> recordings_;
    // Made at the first look-up after a change, so a run of changes pays for it once.
    mutable std::optional<QHash<QUuid, qsizetype>> positions_;
    std::optional<QUuid> latestSavedRecordingID_;
};

} // namespace parlino
