#pragma once

#include <cstdint>

namespace platform {

// The shape of captured audio: 32-bit float samples at `sampleRate`, `channelCount` per frame.
struct AudioCaptureFormat {
    std::uint32_t sampleRate = 0;
    std::uint32_t channelCount = 0;

    static constexpr std::uint32_t maxSampleRate = 384000;
    static constexpr std::uint32_t maxChannelCount = 32;

    bool isValid() const
    {
        return sampleRate > 0 && sampleRate <= maxSampleRate && channelCount > 0 && channelCount <= maxChannelCount;
    }

    friend bool operator==(const AudioCaptureFormat&, const AudioCaptureFormat&) = default;
};

} // namespace platform
