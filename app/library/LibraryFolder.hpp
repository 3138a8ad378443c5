#pragma once

#include <filesystem>

namespace parlino {

// The recordings folder and the rules for what belongs to it. A library audio file lies directly in
// the folder, has the extension "m4a" and a name that does not begin with "."; its sidecar is the
// same path with the extension "json". Files being written (recordings in progress, downloads,
// sidecars on their way) carry a hidden name or another extension until they are complete, so the
// library never takes them for its own.
class LibraryFolder {
public:
    explicit LibraryFolder(std::filesystem::path folder);

    const std::filesystem::path& path() const { return path_; }

    // Whether the file is one of the folder's audio files, judged after resolving ".", ".." and the
    // symbolic links of the folders on its way. The file need not exist.
    bool holdsAudio(const std::filesystem::path& file) const;
    // Whether `other` is this folder, lies inside it or contains it.
    bool overlaps(const std::filesystem::path& other) const;

    static bool isAudioName(const std::filesystem::path& fileName);
    static std::filesystem::path sidecarURL(const std::filesystem::path& audioURL);

private:
    std::filesystem::path path_;
    std::filesystem::path resolved_;
};

} // namespace parlino
