#include "FakeRecorder.hpp"

namespace uitest {

void FakeRecorder::startRecording(StartCompletion completion)
{
    ++startCalls;
    std::exception_ptr error = std::exchange(nextStartError, nullptr);
    QTimer::singleShot(0, this, [this, error, completion = std::move(completion)] {
        if (!error) {
            setTranscription(QString());
            setRecordingDuration(0);
            setIsRecording(true);
        }
        completion(error);
    });
}

void FakeRecorder::stopRecording(StopCompletion completion)
{
    ++stopCalls;
    if (!isRecording()) {
        QTimer::singleShot(0, this, [completion = std::move(completion)] { completion(parlino::RecordingResult{}); });
        return;
    }
    setIsRecording(false);
    pendingStop_ = std::move(completion);
}

void FakeRecorder::publishPreprocessing(const QString& status)
{
    setPreprocessingStatus(status);
    setIsPreprocessing(true);
}

void FakeRecorder::publishTranscribing(double progress, const QString& eta)
{
    setIsPreprocessing(false);
    setTranscriptionProgress(progress);
    setTranscriptionETA(eta);
    setIsTranscribing(true);
}

void FakeRecorder::finishStop(const parlino::RecordingResult& result)
{
    setIsPreprocessing(false);
    setTranscription(result.transcription);
    setTranscriptionProgress(1.0);
    setIsTranscribing(false);
    if (StopCompletion completion = std::exchange(pendingStop_, nullptr)) {
        completion(result);
    }
}

void FakeRecorder::transcribeExistingFile(const std::filesystem::path& audioURL, TranscribeCompletion completion)
{
    transcribedFiles.push_back(audioURL);
    pendingTranscription_ = std::move(completion);
}

void FakeRecorder::finishTranscription(const QString& transcript, std::exception_ptr error)
{
    if (TranscribeCompletion completion = std::exchange(pendingTranscription_, nullptr)) {
        completion(transcript, error);
    }
}

void FakeRecorder::switchModel(const QString& modelId, Completion completion)
{
    switchedModels.push_back(modelId);
    setWhisperModel(modelId);
    if (completion) {
        QTimer::singleShot(0, this, std::move(completion));
    }
}

void FakeRecorder::deleteAndRedownloadModel(Completion completion)
{
    ++deleteCalls;
    if (completion) {
        QTimer::singleShot(0, this, std::move(completion));
    }
}

void FakeRecorder::cancelModelDownload()
{
    ++cancelCalls;
    setModelDownloadCancelled(true);
    setIsInitializingAuris(false);
    setAurisInitProgress(0);
    setAurisReady(false);
}

} // namespace uitest
