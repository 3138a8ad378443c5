#include "app/library/AudioPlayerManager.hpp"

#include "app/library/ConsoleLine.hpp"

#include <filesystem>
#include <system_error>

namespace parlino {

AudioPlayerManager::AudioPlayerManager(platform::SoundServerOptions options, QObject* parent)
    : AudioPlayback(parent)
    , audioPlayer_(std::move(options))
{
}

AudioPlayerManager::~AudioPlayerManager()
{
    // After this no callback runs, so none posts to an object on its way out.
    audioPlayer_.stop();
}

template <typename Handle>
void AudioPlayerManager::post(std::uint64_t playback, Handle handle)
{
    QMetaObject::invokeMethod(
        this,
        [this, playback, handle = std::move(handle)] {
            if (playback == playback_) {
                handle();
            }
        },
        Qt::QueuedConnection);
}

void AudioPlayerManager::play(const Recording& recording)
{
    // Like a player that cannot be made for the file: nothing changes, and the failure follows.
    std::error_code missing;
    if (!std::filesystem::is_regular_file(recording.audioURL, missing)) {
        const QString error = QStringLiteral("Cannot open audio file ") + QString::fromStdString(recording.audioURL.string())
            + QStringLiteral(": ") + QString::fromStdString(std::make_error_code(std::errc::no_such_file_or_directory).message());
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                printLine(QStringLiteral("❌ Play failed: ") + error);
                emit playbackFailed(error);
            },
            Qt::QueuedConnection);
        return;
    }
    const std::uint64_t playback = ++playback_;
    platform::AudioPlayer::Callbacks callbacks;
    callbacks.onStarted = [this, playback](double duration) { post(playback, [this, duration] { setDuration(duration); }); };
    callbacks.onFinished = [this, playback] { post(playback, [this] { audioPlayerDidFinishPlaying(); }); };
    callbacks.onDecodeError = [this, playback](const std::string& message) {
        post(playback, [this, error = QString::fromStdString(message)] { audioPlayerDecodeErrorDidOccur(error); });
    };
    callbacks.onFailure = [this, playback](const std::string& message) {
        post(playback, [this, error = QString::fromStdString(message)] {
            setIsPlaying(false);
            printLine(QStringLiteral("❌ Play failed: ") + error);
            emit playbackFailed(error);
        });
    };
    audioPlayer_.play(recording.audioURL, std::move(callbacks));
    setCurrentRecording(recording);
    setCurrentTime(0);
    setDuration(recording.duration);
    setIsPlaying(true);
}

void AudioPlayerManager::stop()
{
    ++playback_;
    audioPlayer_.stop();
    setIsPlaying(false);
}

void AudioPlayerManager::audioPlayerDidFinishPlaying()
{
    setIsPlaying(false);
    setCurrentTime(0);
    printLine(QStringLiteral("⏹️ Playback finished"));
    emit finished();
}

void AudioPlayerManager::audioPlayerDecodeErrorDidOccur(const std::optional<QString>& error)
{
    setIsPlaying(false);
    const QString description = error && !error->isEmpty() ? *error : QStringLiteral("unknown");
    printLine(QStringLiteral("❌ Decode error: ") + description);
    emit decodeError(description);
}

void AudioPlayerManager::setCurrentTime(double value)
{
    currentTime_ = value;
    emit currentTimeChanged();
}

void AudioPlayerManager::setDuration(double value)
{
    duration_ = value;
    emit durationChanged();
}

} // namespace parlino
