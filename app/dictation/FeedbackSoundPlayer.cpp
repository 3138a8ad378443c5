#include "app/dictation/FeedbackSoundPlayer.hpp"

#include "platform/audio/EventSounds.hpp"

namespace parlino {

ThemeSoundPlayer::ThemeSoundPlayer(platform::SoundServerOptions options)
    : sounds_(std::make_unique<platform::EventSounds>(std::move(options)))
{
}

ThemeSoundPlayer::ThemeSoundPlayer(platform::SoundServerOptions options, std::vector<std::filesystem::path> dataFolders)
    : sounds_(std::make_unique<platform::EventSounds>(std::move(options), std::move(dataFolders)))
{
}

ThemeSoundPlayer::~ThemeSoundPlayer() = default;

const char* ThemeSoundPlayer::themeName(FeedbackSound sound)
{
    switch (sound) {
    case FeedbackSound::start: return "message-new-instant";
    case FeedbackSound::stop: return "audio-volume-change";
    case FeedbackSound::paste: return "complete";
    }
    return "";
}

void ThemeSoundPlayer::play(FeedbackSound sound)
{
    sounds_->play(themeName(sound));
}

} // namespace parlino
