#include "app/recorder/RecorderService.hpp"

namespace parlino {

RecorderService::RecorderService(platform::UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
{
    connect(&defaults_, &platform::UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(whisperModelKey)) {
            emit whisperModelChanged();
        } else if (key == QLatin1String(audioPreprocessingEnabledKey) || key == QLatin1String(noiseSuppressionKey)
            || key == QLatin1String(volumeNormalizationKey) || key == QLatin1String(resample16kHzKey)) {
            emit preprocessingSettingsChanged();
        }
    });
}

RecorderService::~RecorderService() = default;

QString RecorderService::whisperModel() const
{
    return defaults_.stringValue(QLatin1String(whisperModelKey), QLatin1String(defaultWhisperModel));
}

void RecorderService::setWhisperModel(const QString& modelId)
{
    defaults_.setString(QLatin1String(whisperModelKey), modelId);
}

bool RecorderService::preprocessingSwitch(const char* key) const
{
    return defaults_.boolValue(QLatin1String(key), true);
}

bool RecorderService::audioPreprocessingEnabled() const
{
    return preprocessingSwitch(audioPreprocessingEnabledKey);
}

void RecorderService::setAudioPreprocessingEnabled(bool enabled)
{
    defaults_.setBool(QLatin1String(audioPreprocessingEnabledKey), enabled);
}

bool RecorderService::noiseSuppression() const
{
    return preprocessingSwitch(noiseSuppressionKey);
}

void RecorderService::setNoiseSuppression(bool enabled)
{
    defaults_.setBool(QLatin1String(noiseSuppressionKey), enabled);
}

bool RecorderService::volumeNormalization() const
{
    return preprocessingSwitch(volumeNormalizationKey);
}

void RecorderService::setVolumeNormalization(bool enabled)
{
    defaults_.setBool(QLatin1String(volumeNormalizationKey), enabled);
}

bool RecorderService::resample16kHz() const
{
    return preprocessingSwitch(resample16kHzKey);
}

void RecorderService::setResample16kHz(bool enabled)
{
    defaults_.setBool(QLatin1String(resample16kHzKey), enabled);
}

void RecorderService::setIsRecording(bool value)
{
    isRecording_ = value;
    emit isRecordingChanged();
}

void RecorderService::setTranscription(const QString& value)
{
    transcription_ = value;
    emit transcriptionChanged();
}

void RecorderService::setRecordingDuration(double value)
{
    recordingDuration_ = value;
    emit recordingDurationChanged();
}

void RecorderService::setIsTranscribing(bool value)
{
    isTranscribing_ = value;
    emit isTranscribingChanged();
}

void RecorderService::setTranscriptionProgress(double value)
{
    transcriptionProgress_ = value;
    emit transcriptionProgressChanged();
}

void RecorderService::setTranscriptionETA(const QString& value)
{
    transcriptionETA_ = value;
    emit transcriptionETAChanged();
}

void RecorderService::setIsInitializingAuris(bool value)
{
    isInitializingAuris_ = value;
    emit isInitializingAurisChanged();
}

void RecorderService::setAurisInitProgress(double value)
{
    aurisInitProgress_ = value;
    emit aurisInitProgressChanged();
}

void RecorderService::setAurisReady(bool value)
{
    aurisReady_ = value;
    emit aurisReadyChanged();
}

void RecorderService::setLiveTranscriptionAttempts(int value)
{
    liveTranscriptionAttempts_ = value;
    emit liveTranscriptionAttemptsChanged();
}

void RecorderService::setIsPreprocessing(bool value)
{
    isPreprocessing_ = value;
    emit isPreprocessingChanged();
}

void RecorderService::setPreprocessingStatus(const QString& value)
{
    preprocessingStatus_ = value;
    emit preprocessingStatusChanged();
}

void RecorderService::setModelDownloadCancelled(bool value)
{
    modelDownloadCancelled_ = value;
    emit modelDownloadCancelledChanged();
}

void RecorderService::setError(std::optional<RecordingError> value)
{
    error_ = std::move(value);
    emit errorChanged();
}

void RecorderService::setModelFailure(std::optional<ModelFailure> value)
{
    modelFailure_ = std::move(value);
    emit modelFailureChanged();
}

} // namespace parlino
