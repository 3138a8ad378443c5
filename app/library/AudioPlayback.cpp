#include "app/library/AudioPlayback.hpp"

namespace parlino {

AudioPlayback::AudioPlayback(QObject* parent)
    : QObject(parent)
{
}

AudioPlayback::~AudioPlayback() = default;

void AudioPlayback::setIsPlaying(bool value)
{
    isPlaying_ = value;
    emit isPlayingChanged();
}

void AudioPlayback::setCurrentRecording(std::optional<Recording> recording)
{
    currentRecording_ = std::move(recording);
    emit currentRecordingChanged();
}

} // namespace parlino
