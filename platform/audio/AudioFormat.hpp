#pragma once

#include <optional>

namespace platform {

// Linear PCM, 32-bit float, one plane per channel: the one layout buffers, the file reader and the
// converter work in. Only the rate and the channel count vary.
struct AudioFormat {
    double sampleRate = 0;
    int channelCount = 0;

    // The largest channel count a format may have.
    static constexpr int maxChannelCount = 64;

    // Absent unless the rate is finite and positive and the channel count lies in 1...maxChannelCount.
    static std::optional<AudioFormat> standard(double sampleRate, int channelCount);

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

} // namespace platform
