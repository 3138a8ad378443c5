#pragma once

#include "platform/audio/AudioCaptureFormat.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// What to capture: a device (or the default one) and the format wanted; unset fields take the
// device's own rate and channel count.
struct AudioCaptureRequest {
    std::optional<std::string> deviceName;
    std::optional<std::uint32_t> sampleRate;
    std::optional<std::uint32_t> channelCount;
    std::size_t framesPerBlock = 0; // 0: a tenth of a second at the capture rate

    static constexpr std::uint32_t maxBlockSeconds = 10;

    // Throws AudioCaptureError for a rate, channel count or block size no capture can take.
    void validate() const;

    // The format captured from a device whose own format is `native`.
    AudioCaptureFormat formatFor(const AudioCaptureFormat& native) const;

    // Frames in each delivered block at `sampleRate`.
    std::size_t blockFramesFor(std::uint32_t sampleRate) const;
};

} // namespace platform
