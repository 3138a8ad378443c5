#include "platform/audio/EventSounds.hpp"

#include "platform/audio/AudioPlayer.hpp"

#include <cstdlib>
#include <sstream>

namespace platform {

namespace {

std::filesystem::path homeFolder()
{
    const char* home = std::getenv("HOME");
    return home && *home ? std::filesystem::path(home) : std::filesystem::path("/");
}

// An XDG variable that names absolute folders only; relative entries are ignored, as the XDG base directory rules say.
std::vector<std::filesystem::path> folderList(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    std::istringstream entries(value && *value ? value : fallback);
    std::vector<std::filesystem::path> folders;
    for (std::string entry; std::getline(entries, entry, ':');) {
        if (!entry.empty() && entry.front() == '/') {
            folders.emplace_back(entry);
        }
    }
    return folders;
}

} // namespace

EventSounds::EventSounds(SoundServerOptions options, std::vector<std::filesystem::path> dataFolders, std::string theme)
    : options_(std::move(options))
    , dataFolders_(std::move(dataFolders))
    , theme_(std::move(theme))
{
}

EventSounds::~EventSounds() = default;

std::vector<std::filesystem::path> EventSounds::standardDataFolders()
{
    std::vector<std::filesystem::path> folders = folderList("XDG_DATA_HOME", "");
    if (folders.empty()) {
        folders.push_back(homeFolder() / ".local" / "share");
    }
    const auto shared = folderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    folders.insert(folders.end(), shared.begin(), shared.end());
    return folders;
}

std::optional<std::filesystem::path> EventSounds::find(const std::string& name) const
{
    if (name.empty() || name.find('/') != std::string::npos || name.front() == '.') {
        return std::nullopt;
    }
    for (const auto& folder : dataFolders_) {
        const auto themeFolder = folder / "sounds" / theme_;
        for (const auto& place : {themeFolder / "stereo", themeFolder}) {
            for (const char* extension : {".oga", ".ogg", ".wav"}) {
                const auto candidate = place / (name + extension);
                std::error_code error;
                if (std::filesystem::is_regular_file(candidate, error)) {
                    return candidate;
                }
            }
        }
    }
    return std::nullopt;
}

bool EventSounds::play(const std::string& name)
{
    const auto file = find(name);
    if (!file) {
        return false;
    }
    auto& player = players_[name];
    if (!player) {
        player = std::make_unique<AudioPlayer>(options_);
    }
    player->play(*file, {});
    return true;
}

} // namespace platform
