#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// Encodes planes of float samples with any FFmpeg encoder taking float samples (MP3 through
// libmp3lame, Opus through libopus, ...) into the named container, to test reading such files.
// Returns false when the encoder is not available. `muxerOptions` are the muxer's own, as
// "movflags=frag_keyframe+empty_moov:frag_duration=200000".
bool encodeWithLibrary(const std::filesystem::path& path, const std::string& muxer, const std::string& encoder,
    int sampleRate, const std::vector<std::vector<float>>& channels, const std::string& muxerOptions = {});

} // namespace testsupport
