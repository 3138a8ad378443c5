#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// Encodes planes of float samples with any FFmpeg encoder taking float samples (MP3 through
// libmp3lame, Opus through libopus, ...) into the named container, to test reading such files.
// Returns false when the encoder is not available.
bool encodeWithLibrary(const std::filesystem::path& path, const std::string& muxer, const std::string& encoder,
    int sampleRate, const std::vector<std::vector<float>>& channels);

} // namespace testsupport
