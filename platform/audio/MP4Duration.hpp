#pragma once

#include <filesystem>
#include <optional>

namespace platform {

// The length of the audio track of an MP4 (".m4a") file, read from its boxes without decoding:
// the track's header for a whole file, the fragments' sample tables for a fragmented one. A file
// cut short counts only the samples whose data is on disk, so a fragment cut midway adds what it
// holds and nothing beyond.
class MP4Duration {
public:
    // Seconds; none when the file is no MP4 at all (it does not begin with a file type box), so
    // that another reader may try. Throws AudioFileError when the file cannot be opened or is not
    // a regular file, and when it is an MP4 without a readable audio track (no movie box, as
    // after a crash of a writer that puts it last).
    static std::optional<double> read(const std::filesystem::path& path);
};

} // namespace platform
