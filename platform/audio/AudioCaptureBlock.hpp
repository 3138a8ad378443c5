#pragma once

#include "platform/audio/AudioCaptureFormat.hpp"

#include <cstddef>
#include <vector>

namespace platform {

// One block of captured audio. Samples are interleaved: channel c of frame i is
// samples[i * format.channelCount + c].
struct AudioCaptureBlock {
    AudioCaptureFormat format;
    std::vector<float> samples;

    std::size_t frameCount() const { return format.channelCount == 0 ? 0 : samples.size() / format.channelCount; }
};

} // namespace platform
