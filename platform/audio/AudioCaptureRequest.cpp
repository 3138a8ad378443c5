#include "platform/audio/AudioCaptureRequest.hpp"

#include "platform/audio/AudioCaptureError.hpp"

#include <algorithm>
#include <string>

namespace platform {

void AudioCaptureRequest::validate() const
{
    if (sampleRate && (*sampleRate == 0 || *sampleRate > AudioCaptureFormat::maxSampleRate)) {
        throw AudioCaptureError("Unsupported capture sample rate: " + std::to_string(*sampleRate) + " Hz");
    }
    if (channelCount && (*channelCount == 0 || *channelCount > AudioCaptureFormat::maxChannelCount)) {
        throw AudioCaptureError("Unsupported capture channel count: " + std::to_string(*channelCount));
    }
    const auto largestBlock = std::size_t {AudioCaptureFormat::maxSampleRate} * maxBlockSeconds;
    if (framesPerBlock > largestBlock) {
        throw AudioCaptureError("Capture block too long: " + std::to_string(framesPerBlock) + " frames");
    }
    if (deviceName && deviceName->empty()) {
        throw AudioCaptureError("The input device name is empty");
    }
}

AudioCaptureFormat AudioCaptureRequest::formatFor(const AudioCaptureFormat& native) const
{
    AudioCaptureFormat format {sampleRate.value_or(native.sampleRate), channelCount.value_or(native.channelCount)};
    if (!format.isValid()) {
        throw AudioCaptureError("The input device reports an unsupported format: " + std::to_string(native.sampleRate)
                                + " Hz, " + std::to_string(native.channelCount) + " channels");
    }
    return format;
}

std::size_t AudioCaptureRequest::blockFramesFor(std::uint32_t rate) const
{
    if (framesPerBlock > 0) {
        return framesPerBlock;
    }
    return std::max<std::size_t>(1, rate / 10);
}

} // namespace platform
