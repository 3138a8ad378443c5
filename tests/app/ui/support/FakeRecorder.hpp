#pragma once

#include "app/recorder/RecorderService.hpp"

#include <QTimer>

#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

namespace uitest {

// A recorder the test drives by hand: start and stop finish on the next event-loop turn (never
// inside the call), a stop stays pending until the test finishes it, and every published value
// can be set directly.
class FakeRecorder final : public parlino::RecorderService {
    Q_OBJECT

public:
    using RecorderService::RecorderService;

    using RecorderService::setAurisInitProgress;
    using RecorderService::setAurisReady;
    using RecorderService::setIsInitializingAuris;
    using RecorderService::setIsPreprocessing;
    using RecorderService::setIsRecording;
    using RecorderService::setIsTranscribing;
    using RecorderService::setModelDownloadCancelled;
    using RecorderService::setModelFailure;
    using RecorderService::setPreprocessingStatus;
    using RecorderService::setRecordingDuration;
    using RecorderService::setTranscription;
    using RecorderService::setTranscriptionETA;
    using RecorderService::setTranscriptionProgress;

    void startRecording(StartCompletion completion) override;
    void stopRecording(StopCompletion completion) override;
    void transcribeExistingFile(const std::filesystem::path& audioURL, TranscribeCompletion completion) override;
    void switchModel(const QString& modelId, Completion completion) override;
    void deleteAndRedownloadModel(Completion completion) override;
    void cancelModelDownload() override;

    // The stop that is waiting for its result: preprocessing first, then transcribing.
    bool hasPendingStop() const { return pendingStop_ != nullptr; }
    void publishPreprocessing(const QString& status);
    void publishTranscribing(double progress, const QString& eta);
    void finishStop(const parlino::RecordingResult& result);
    // The transcription of an existing file waits until the test finishes it.
    bool hasPendingTranscription() const { return pendingTranscription_ != nullptr; }
    void finishTranscription(const QString& transcript, std::exception_ptr error = nullptr);

    // The next start fails with this error.
    std::exception_ptr nextStartError;
    int startCalls = 0;
    int stopCalls = 0;
    int cancelCalls = 0;
    int deleteCalls = 0;
    std::vector<std::filesystem::path> transcribedFiles;
    std::vector<QString> switchedModels;

private:
    StopCompletion pendingStop_;
    TranscribeCompletion pendingTranscription_;
};

} // namespace uitest
