#pragma once

#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <filesystem>

namespace auris {

// Copies `frameCount` frames of every channel of `source`, from `startFrame`, to the end of
// `destination` and grows its frame length. False, after a debug line and with nothing changed,
// when the formats differ ("Format mismatch"), the source holds too few frames ("Insufficient audio
// in buffer") or the destination has too little room ("Insufficient space in buffer").
bool appendBufferContents(
    platform::PCMBuffer& destination, const platform::PCMBuffer& source, std::uint32_t startFrame, std::uint32_t frameCount);

// Writes the whole buffer to an audio file in the buffer's format, creating the file's folder first
// when it is missing. Throws std::filesystem::filesystem_error or platform::AudioFileError.
void writeFileCreatingDirectories(const platform::PCMBuffer& buffer, const std::filesystem::path& file);

} // namespace auris
