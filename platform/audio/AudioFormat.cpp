#include "platform/audio/AudioFormat.hpp"

#include <cmath>

namespace platform {

std::optional<AudioFormat> AudioFormat::standard(double sampleRate, int channelCount)
{
    // The upper rate bound keeps frame arithmetic far from overflow.
    if (!std::isfinite(sampleRate) || sampleRate <= 0 || sampleRate > 10'000'000
        || channelCount < 1 || channelCount > maxChannelCount) {
        return std::nullopt;
    }
    return AudioFormat {sampleRate, channelCount};
}

} // namespace platform
