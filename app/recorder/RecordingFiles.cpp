#include "app/recorder/RecordingFiles.hpp"

#include "app/recorder/SmartNamingEngine.hpp"

#include "platform/text/Graphemes.hpp"

#include <system_error>

namespace parlino {

namespace fs = std::filesystem;

std::uint64_t fileSize(const fs::path& file)
{
    std::error_code error;
    const auto size = fs::file_size(file, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

bool holdsAudio(const fs::path& file)
{
    std::error_code error;
    return fs::is_regular_file(file, error) && fileSize(file) > 0;
}

std::string numberedName(const std::string& name, int number)
{
    const fs::path path(name);
    const std::string suffix = "_" + std::to_string(number) + path.extension().string();
    const std::string whole = path.stem().string();
    std::string stem;
    for (const std::string_view character : platform::graphemeClusters(whole)) {
        if (stem.size() + character.size() + suffix.size() > SmartNamingEngine::maxFileNameBytes) {
            break;
        }
        stem += character;
    }
    return stem + suffix;
}

} // namespace parlino
