#pragma once

#include "app/recorder/Recording.hpp"

#include <QList>
#include <QPointer>

#include <exception>
#include <functional>

namespace parlino {

class RecordingsManager;

// The library's road to the cloud store: the upload after each save and the full synchronisation.
// Without one the library works locally. Both operations run on the main thread and finish through
// their completion exactly once, on the main thread, after the call has returned; a null error
// means success.
class CloudSync {
public:
    using Completion = std::function<void(std::exception_ptr error)>;
    // Without an error: whether the recording went to the cloud (or was there already), or the
    // upload was skipped because the cloud cannot be used, which is no failure but no upload either.
    enum class UploadOutcome { uploaded, skipped };
    using UploadCompletion = std::function<void(std::exception_ptr error, UploadOutcome outcome)>;

    virtual ~CloudSync() = default;

    // Whether a cloud store is set up and signed in; without one a sync or upload is skipped.
    virtual bool isAvailable() const = 0;

    virtual void uploadRecording(const Recording& recording, UploadCompletion completion) = 0;
    // Adds what it downloads through `RecordingsManager::appendDownloadedRecordings`, a batch at a
    // time as it arrives, keeping the list newest first; a library that is gone takes nothing.
    virtual void performFullSync(const QList<Recording>& localRecordings, QPointer<RecordingsManager> library,
                                 Completion completion) = 0;
};

} // namespace parlino
