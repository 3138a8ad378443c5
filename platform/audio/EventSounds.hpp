#pragma once

#include "platform/audio/SoundServerOptions.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class AudioPlayer;

// Named event sounds of an XDG sound theme (by default "freedesktop"), played through the sound
// server. A name is looked up as NAME.oga, NAME.ogg or NAME.wav in the theme's "stereo" folder, then
// in the theme folder itself, under each data folder in turn. Each name plays on a player of its
// own, so one sound does not cut another short; a name played again restarts. Nothing here waits
// for the server or the file, and a sound that fails to play is silent.
class EventSounds {
public:
    // `dataFolders`: where "sounds/THEME" is looked for, first match wins.
    explicit EventSounds(SoundServerOptions options = {}, std::vector<std::filesystem::path> dataFolders = standardDataFolders(),
                         std::string theme = "freedesktop");
    ~EventSounds();
    EventSounds(const EventSounds&) = delete;
    EventSounds& operator=(const EventSounds&) = delete;

    // $XDG_DATA_HOME (else ~/.local/share), then each of $XDG_DATA_DIRS (else /usr/local/share and /usr/share).
    static std::vector<std::filesystem::path> standardDataFolders();

    std::optional<std::filesystem::path> find(const std::string& name) const;
    // False when the theme has no sound of that name; nothing is played then.
    bool play(const std::string& name);

private:
    SoundServerOptions options_;
    std::vector<std::filesystem::path> dataFolders_;
    std::string theme_;
    std::map<std::string, std::unique_ptr<AudioPlayer>> players_;
};

} // namespace platform
