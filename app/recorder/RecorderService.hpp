#pragma once

#include "app/recorder/ModelFailure.hpp"
#include "app/recorder/RecordingError.hpp"
#include "app/recorder/RecordingResult.hpp"
#include "platform/settings/UserDefaults.hpp"

#include <QObject>
#include <QString>

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>

namespace parlino {

// What the screens, dictation and hotkey roads use of the recorder: its published state, its
// persisted settings and its operations. The recorder itself and the fakes of the UI tests derive
// from it. Everything here is read, written and called on the Qt main thread.
//
// Published state changes only through the protected setters; every write notifies, also when the
// value is unchanged, so observers see each step in order.
//
// Operations finish through a completion that runs exactly once, on the main thread, never before
// the call has returned.
class RecorderService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString transcription READ transcription NOTIFY transcriptionChanged)
    Q_PROPERTY(double recordingDuration READ recordingDuration NOTIFY recordingDurationChanged)
    Q_PROPERTY(bool isTranscribing READ isTranscribing NOTIFY isTranscribingChanged)
    Q_PROPERTY(double transcriptionProgress READ transcriptionProgress NOTIFY transcriptionProgressChanged)
    Q_PROPERTY(QString transcriptionETA READ transcriptionETA NOTIFY transcriptionETAChanged)
    Q_PROPERTY(bool isInitializingAuris READ isInitializingAuris NOTIFY isInitializingAurisChanged)
    Q_PROPERTY(double aurisInitProgress READ aurisInitProgress NOTIFY aurisInitProgressChanged)
    Q_PROPERTY(bool aurisReady READ aurisReady NOTIFY aurisReadyChanged)
    Q_PROPERTY(int liveTranscriptionAttempts READ liveTranscriptionAttempts NOTIFY liveTranscriptionAttemptsChanged)
    Q_PROPERTY(bool isPreprocessing READ isPreprocessing NOTIFY isPreprocessingChanged)
    Q_PROPERTY(QString preprocessingStatus READ preprocessingStatus NOTIFY preprocessingStatusChanged)
    Q_PROPERTY(bool modelDownloadCancelled READ modelDownloadCancelled NOTIFY modelDownloadCancelledChanged)
    Q_PROPERTY(QString whisperModel READ whisperModel WRITE setWhisperModel NOTIFY whisperModelChanged)
    Q_PROPERTY(bool audioPreprocessingEnabled READ audioPreprocessingEnabled WRITE setAudioPreprocessingEnabled NOTIFY preprocessingSettingsChanged)
    Q_PROPERTY(bool noiseSuppression READ noiseSuppression WRITE setNoiseSuppression NOTIFY preprocessingSettingsChanged)
    Q_PROPERTY(bool volumeNormalization READ volumeNormalization WRITE setVolumeNormalization NOTIFY preprocessingSettingsChanged)
    Q_PROPERTY(bool resample16kHz READ resample16kHz WRITE setResample16kHz NOTIFY preprocessingSettingsChanged)

public:
    // Settings keys and their defaults.
    static constexpr const char* whisperModelKey = "whisperModel";
    static constexpr const char* defaultWhisperModel = "small";
    static constexpr const char* audioPreprocessingEnabledKey = "audioPreprocessingEnabled";
    static constexpr const char* noiseSuppressionKey = "noiseSuppression";
    static constexpr const char* volumeNormalizationKey = "volumeNormalization";
    static constexpr const char* resample16kHzKey = "resample16kHz";
    static constexpr const char* preferredTranscriptionLanguageKey = "preferredTranscriptionLanguage";

    using StartCompletion = std::function<void(std::exception_ptr error)>;
    using StopCompletion = std::function<void(RecordingResult result)>;
    // An empty error means the transcript (possibly empty) is the answer.
    using TranscribeCompletion = std::function<void(QString transcript, std::exception_ptr error)>;
    using Completion = std::function<void()>;

    explicit RecorderService(platform::UserDefaults& defaults, QObject* parent = nullptr);
    ~RecorderService() override;

    bool isRecording() const { return isRecording_; }
    QString transcription() const { return transcription_; }
    double recordingDuration() const { return recordingDuration_; }
    bool isTranscribing() const { return isTranscribing_; }
    double transcriptionProgress() const { return transcriptionProgress_; }
    QString transcriptionETA() const { return transcriptionETA_; }
    bool isInitializingAuris() const { return isInitializingAuris_; }
    double aurisInitProgress() const { return aurisInitProgress_; }
    bool aurisReady() const { return aurisReady_; }
    int liveTranscriptionAttempts() const { return liveTranscriptionAttempts_; }
    bool isPreprocessing() const { return isPreprocessing_; }
    QString preprocessingStatus() const { return preprocessingStatus_; }
    bool modelDownloadCancelled() const { return modelDownloadCancelled_; }
    const std::optional<RecordingError>& error() const { return error_; }
    // The last model that could not be set up, and why; none once a set-up starts or succeeds.
    // While another model still serves, it is the model a switch did not reach.
    const std::optional<ModelFailure>& modelFailure() const { return modelFailure_; }

    QString whisperModel() const;
    void setWhisperModel(const QString& modelId);
    bool audioPreprocessingEnabled() const;
    void setAudioPreprocessingEnabled(bool enabled);
    bool noiseSuppression() const;
    void setNoiseSuppression(bool enabled);
    bool volumeNormalization() const;
    void setVolumeNormalization(bool enabled);
    bool resample16kHz() const;
    void setResample16kHz(bool enabled);

    platform::UserDefaults& defaults() const { return defaults_; }

    // Fails with RecordingError::microphoneAccessDenied, or the capture's own error.
    virtual void startRecording(StartCompletion completion) = 0;
    // Stops whatever recording runs, whoever started it. With nothing recorded the result has no
    // audio, no text and no title.
    virtual void stopRecording(StopCompletion completion) = 0;
    // Fails with RecordingError::aurisNotInitialized when no model is ready, or the engine's error.
    virtual void transcribeExistingFile(const std::filesystem::path& audioURL, TranscribeCompletion completion) = 0;
    // The loaded model keeps serving until the new one is loaded; a switch that fails or is
    // cancelled selects the loaded model again.
    virtual void switchModel(const QString& modelId, Completion completion = {}) = 0;
    virtual void deleteAndRedownloadModel(Completion completion = {}) = 0;
    virtual void cancelModelDownload() = 0;

signals:
    void isRecordingChanged();
    void transcriptionChanged();
    void recordingDurationChanged();
    void isTranscribingChanged();
    void transcriptionProgressChanged();
    void transcriptionETAChanged();
    void isInitializingAurisChanged();
    void aurisInitProgressChanged();
    void aurisReadyChanged();
    void liveTranscriptionAttemptsChanged();
    void isPreprocessingChanged();
    void preprocessingStatusChanged();
    void modelDownloadCancelledChanged();
    void errorChanged();
    void modelFailureChanged();
    void whisperModelChanged();
    void preprocessingSettingsChanged();
    // The running recording cannot go on (its audio cannot be written); the message says what
    // happened and what was kept. The recording still needs its stop.
    void recordingInterrupted(const QString& message);

protected:
    void setIsRecording(bool value);
    void setTranscription(const QString& value);
    void setRecordingDuration(double value);
    void setIsTranscribing(bool value);
    void setTranscriptionProgress(double value);
    void setTranscriptionETA(const QString& value);
    void setIsInitializingAuris(bool value);
    void setAurisInitProgress(double value);
    void setAurisReady(bool value);
    void setLiveTranscriptionAttempts(int value);
    void setIsPreprocessing(bool value);
    void setPreprocessingStatus(const QString& value);
    void setModelDownloadCancelled(bool value);
    void setError(std::optional<RecordingError> value);
    void setModelFailure(std::optional<ModelFailure> value);

private:
    bool preprocessingSwitch(const char* key) const;

    platform::UserDefaults& defaults_;
    bool isRecording_ = false;
    QString transcription_;
    double recordingDuration_ = 0;
    bool isTranscribing_ = false;
    double transcriptionProgress_ = 0;
    QString transcriptionETA_;
    bool isInitializingAuris_ = false;
    double aurisInitProgress_ = 0;
    bool aurisReady_ = false;
    int liveTranscriptionAttempts_ = 0;
    bool isPreprocessing_ = false;
    QString preprocessingStatus_;
    bool modelDownloadCancelled_ = false;
    std::optional<RecordingError> error_;
    std::optional<ModelFailure> modelFailure_;
};

} // namespace parlino
