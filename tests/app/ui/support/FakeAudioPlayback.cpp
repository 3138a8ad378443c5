#include "FakeAudioPlayback.hpp"

#include <QTimer>

namespace uitest {

void FakeAudioPlayback::play(const parlino::Recording& recording)
{
    plays.push_back(recording.id);
    if (nextFailure) {
        QTimer::singleShot(0, this, [this, error = *std::exchange(nextFailure, std::nullopt)] { emit playbackFailed(error); });
        return;
    }
    setCurrentRecording(recording);
    setIsPlaying(true);
}

void FakeAudioPlayback::stop()
{
    ++stops;
    setIsPlaying(false);
}

void FakeAudioPlayback::finish()
{
    setIsPlaying(false);
    emit finished();
}

} // namespace uitest
