#include "platform/audio/PCMBuffer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

std::optional<PCMBuffer> PCMBuffer::make(const AudioFormat& format, std::uint32_t frameCapacity)
{
    if (!AudioFormat::standard(format.sampleRate, format.channelCount)) {
        return std::nullopt;
    }
    const std::size_t planeFrames = std::max<std::size_t>(frameCapacity, 1);
    // calloc hands large blocks over as untouched zero pages, so a big capacity costs nothing until written.
    auto* memory = static_cast<float*>(std::calloc(planeFrames * static_cast<std::size_t>(format.channelCount), sizeof(float)));
    if (!memory) {
        return std::nullopt;
    }
    return PCMBuffer(format, frameCapacity, std::unique_ptr<float[], FreeStorage>(memory));
}

PCMBuffer::PCMBuffer(const AudioFormat& format, std::uint32_t frameCapacity, std::unique_ptr<float[], FreeStorage> storage)
    : format_(format)
    , frameCapacity_(frameCapacity)
    , storage_(std::move(storage))
{
}

void PCMBuffer::setFrameLength(std::uint32_t frameLength)
{
    if (frameLength > frameCapacity_) {
        throw std::out_of_range("frame length " + std::to_string(frameLength) + " exceeds the buffer's capacity of "
            + std::to_string(frameCapacity_) + " frames");
    }
    frameLength_ = frameLength;
}

float* PCMBuffer::channelData(int channel)
{
    return const_cast<float*>(std::as_const(*this).channelData(channel));
}

const float* PCMBuffer::channelData(int channel) const
{
    if (channel < 0 || channel >= format_.channelCount) {
        throw std::out_of_range("no channel " + std::to_string(channel) + " in a buffer of "
            + std::to_string(format_.channelCount) + " channels");
    }
    if (!storage_) {
        throw std::logic_error("the buffer was moved away");
    }
    const std::size_t planeFrames = std::max<std::size_t>(frameCapacity_, 1);
    return storage_.get() + static_cast<std::size_t>(channel) * planeFrames;
}

} // namespace platform
