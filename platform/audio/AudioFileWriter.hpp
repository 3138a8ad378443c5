#pragma once

#include "platform/audio/AudioFileSettings.hpp"
#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <filesystem>
#include <memory>

namespace platform {

// A new audio file being written: WAV (32-bit float PCM) or M4A (AAC). Buffers are written in the
// processing format (the settings' rate and channel count); the file is complete after `close()`.
class AudioFileWriter {
public:
    // Creates or replaces the file; throws AudioFileError for an unsupported name or settings, or
    // when the file cannot be created. The folder must exist.
    AudioFileWriter(const std::filesystem::path& path, const AudioFileSettings& settings);
    // Closes the file if `close()` was not called; failures are then lost.
    ~AudioFileWriter();
    AudioFileWriter(AudioFileWriter&&) noexcept;
    AudioFileWriter& operator=(AudioFileWriter&&) noexcept;

    const AudioFormat& processingFormat() const;
    // Appends the buffer's frames; throws AudioFileError for another format, after `close()`, or
    // when encoding or writing fails.
    void write(const PCMBuffer& buffer);
    // Encodes what is pending and finishes the file; later calls do nothing. Throws AudioFileError.
    void close();

private:
    class Encoder;
    std::unique_ptr<Encoder> encoder_;
};

} // namespace platform
