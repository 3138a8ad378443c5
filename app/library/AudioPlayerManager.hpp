#pragma once

#include "app/library/AudioPlayback.hpp"
#include "platform/audio/AudioPlayer.hpp"

#include <cstdint>
#include <optional>

namespace parlino {

// Plays recordings through the sound server: decoding and the output stream run on the player's
// own thread, and what they report reaches the published state on the main thread.
class AudioPlayerManager : public AudioPlayback {
    Q_OBJECT
    Q_PROPERTY(double currentTime READ currentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(float playbackRate READ playbackRate NOTIFY playbackRateChanged)

public:
    explicit AudioPlayerManager(platform::SoundServerOptions options = {}, QObject* parent = nullptr);
    // Stops playback; reports of it that are still on their way are dropped.
    ~AudioPlayerManager() override;

    double currentTime() const { return currentTime_; }
    // Of the loaded audio, in seconds.
    double duration() const { return duration_; }
    float playbackRate() const { return playbackRate_; }

    void play(const Recording& recording) override;
    void stop() override;

    // The player's reports, on the main thread.
    void audioPlayerDidFinishPlaying();
    void audioPlayerDecodeErrorDidOccur(const std::optional<QString>& error);

signals:
    void currentTimeChanged();
    void durationChanged();
    void playbackRateChanged();

private:
    // Runs `handle` on the main thread unless another playback has begun since.
    template <typename Handle>
    void post(std::uint64_t playback, Handle handle);
    void setCurrentTime(double value);
    void setDuration(double value);

    double currentTime_ = 0;
    double duration_ = 0;
    float playbackRate_ = 1.0f;
    std::uint64_t playback_ = 0;
    platform::AudioPlayer audioPlayer_;
};

} // namespace parlino
