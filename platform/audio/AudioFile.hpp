#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace platform {

// An audio file open for reading: any container and codec FFmpeg reads (WAV, FLAC, MP3, AAC/M4A,
// Ogg Vorbis/Opus, ...), delivered as 32-bit float planes at the file's own rate and channel count.
// Positions are exact frame indices counted from the first decoded frame.
class AudioFile {
public:
    // Throws AudioFileError when the file cannot be opened, holds no audio stream, has no decoder,
    // or is damaged so that its frames cannot be counted. A file that ends early (cut inside its
    // audio) holds the frames of its whole packets, with a line in the system log saying so.
    explicit AudioFile(const std::filesystem::path& path);
    ~AudioFile();
    AudioFile(AudioFile&&) noexcept;
    AudioFile& operator=(AudioFile&&) noexcept;

    const std::filesystem::path& path() const;
    // Rate and channel count of the file; the layout of every buffer read from it.
    const AudioFormat& processingFormat() const;
    // Frames in the file.
    std::int64_t length() const;
    // The file holds less than its header or index says, or its last packet is cut off.
    bool endsEarly() const;

    // Where the next read starts; a position past the end reads nothing.
    std::int64_t framePosition() const;
    // Throws std::out_of_range for a negative position.
    void setFramePosition(std::int64_t framePosition);

    // Replaces the buffer's contents with up to `frameCount` frames from the frame position and moves
    // the position past them; fewer frames come only at the end of the file. Throws AudioFileError
    // when the buffer's format differs from the processing format, its capacity is below
    // `frameCount`, or the data cannot be decoded (including a file that ends before its length).
    void read(PCMBuffer& buffer, std::uint32_t frameCount);

private:
    class Decoder;
    std::unique_ptr<Decoder> decoder_;
};

} // namespace platform
