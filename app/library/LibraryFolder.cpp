#include "app/library/LibraryFolder.hpp"

#include <algorithm>

namespace parlino {

namespace {

std::filesystem::path resolve(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path), error);
    if (error) {
        resolved = std::filesystem::absolute(path).lexically_normal();
    }
    if (!resolved.has_filename() && resolved.has_parent_path() && resolved != resolved.root_path()) {
        resolved = resolved.parent_path();
    }
    return resolved;
}

bool startsWith(const std::filesystem::path& path, const std::filesystem::path& prefix)
{
    const auto mismatch = std::mismatch(prefix.begin(), prefix.end(), path.begin(), path.end());
    return mismatch.first == prefix.end();
}

} // namespace

LibraryFolder::LibraryFolder(std::filesystem::path folder)
    : path_(std::move(folder))
    , resolved_(resolve(path_))
{
}

bool LibraryFolder::holdsAudio(const std::filesystem::path& file) const
{
    if (!file.is_absolute() || !isAudioName(file.filename())) {
        return false;
    }
    return resolve(file.parent_path()) == resolved_;
}

bool LibraryFolder::overlaps(const std::filesystem::path& other) const
{
    const std::filesystem::path resolved = resolve(other);
    if (startsWith(resolved, resolved_) || startsWith(resolved_, resolved)) {
        return true;
    }
    std::error_code error;
    return std::filesystem::equivalent(resolved, resolved_, error);
}

bool LibraryFolder::isAudioName(const std::filesystem::path& fileName)
{
    const std::string name = fileName.string();
    return !name.empty() && name.front() != '.' && fileName.extension() == ".m4a" && name != ".m4a";
}

std::filesystem::path LibraryFolder::sidecarURL(const std::filesystem::path& audioURL)
{
    return std::filesystem::path(audioURL).replace_extension(".json");
}

} // namespace parlino
