#pragma once

#include "app/dictation/FeedbackSound.hpp"
#include "platform/audio/SoundServerOptions.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class EventSounds;
}

namespace parlino {

// Plays the three feedback sounds; the sound theme in the application, a recording fake in tests.
class FeedbackSoundPlayer {
public:
    virtual ~FeedbackSoundPlayer() = default;
    virtual void play(FeedbackSound sound) = 0;
};

// The feedback sounds from the desktop's sound theme: "Ping" is the theme's "message-new-instant",
// "Pop" its "audio-volume-change" and "Glass" its "complete". A sound the theme lacks is skipped.
class ThemeSoundPlayer final : public FeedbackSoundPlayer {
public:
    explicit ThemeSoundPlayer(platform::SoundServerOptions options = {});
    ThemeSoundPlayer(platform::SoundServerOptions options, std::vector<std::filesystem::path> dataFolders);
    ~ThemeSoundPlayer() override;

    void play(FeedbackSound sound) override;

    // The theme's event name for the sound.
    static const char* themeName(FeedbackSound sound);

private:
    std::unique_ptr<platform::EventSounds> sounds_;
};

} // namespace parlino
