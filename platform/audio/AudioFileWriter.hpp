#pragma once

#include "platform/audio/AudioFileOutput.hpp"
#include "platform/audio/AudioFileSettings.hpp"
#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <filesystem>
#include <memory>

namespace platform {

// A new audio file being written: WAV (32-bit float PCM) or M4A (AAC). Buffers are written in the
// processing format (the settings' rate and channel count); the file is complete after `close()`.
//
// M4A audio goes to disk in fragments of about a second, each whole when written, so a file cut
// off at any moment (the program killed, the disk full) plays up to its last fragment. When a
// write fails, the file is cut back to its last whole fragment, or removed when no audio reached
// it, and nothing more is written.
class AudioFileWriter {
public:
    // Creates or replaces the file; throws AudioFileError for an unsupported name or settings, or
    // when the file cannot be created or its header written (no file is left then). The folder
    // must exist. A file that must not replace another is made with AudioFileOutput::create and
    // given to the other constructor.
    AudioFileWriter(const std::filesystem::path& path, const AudioFileSettings& settings);
    // Writes through `output`, whose path names the file.
    AudioFileWriter(std::unique_ptr<AudioFileOutput> output, const AudioFileSettings& settings);
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
    // A write or the close failed: the file holds what was whole before, or is gone.
    bool failed() const;

private:
    class Encoder;
    std::unique_ptr<Encoder> encoder_;
};

} // namespace platform
