#pragma once

#include "platform/audio/AudioFormat.hpp"
#include "platform/audio/PCMBuffer.hpp"

#include <cstdint>
#include <memory>
#include <optional>

struct SwrContext;

namespace platform {

// A stateful rate and channel converter over libswresample. Input is fed once; the filter keeps its
// history from one call to the next, so a long stream converted in blocks has no seams. Going down
// to one channel averages the input channels; going up from one copies it to every channel.
class AudioConverter {
public:
    // Absent when the library cannot convert between the two formats.
    static std::optional<AudioConverter> make(const AudioFormat& inputFormat, const AudioFormat& outputFormat);

    ~AudioConverter();
    AudioConverter(AudioConverter&&) noexcept;
    AudioConverter& operator=(AudioConverter&&) noexcept;

    const AudioFormat& inputFormat() const { return inputFormat_; }
    const AudioFormat& outputFormat() const { return outputFormat_; }

    // Feeds every frame of `input` and appends converted frames after `output`'s frame length, up to
    // its capacity; what does not fit stays inside for the next call. Returns the frames appended.
    // Throws AudioFileError when a format differs from the converter's or the library fails.
    std::uint32_t convert(const PCMBuffer& input, PCMBuffer& output);

    // Ends the stream: appends the frames still held (the filter's tail), as far as `output` has room.
    std::uint32_t flush(PCMBuffer& output);

private:
    struct Release {
        void operator()(SwrContext* context) const;
    };

    AudioConverter(const AudioFormat& inputFormat, const AudioFormat& outputFormat, std::unique_ptr<SwrContext, Release> context);
    std::uint32_t run(const PCMBuffer* input, PCMBuffer& output);

    AudioFormat inputFormat_;
    AudioFormat outputFormat_;
    std::unique_ptr<SwrContext, Release> context_;
};

} // namespace platform
