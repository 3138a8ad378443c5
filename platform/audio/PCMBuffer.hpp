#pragma once

#include "platform/audio/AudioFormat.hpp"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>

namespace platform {

// Audio samples in memory: one plane of 32-bit floats per channel, room for `frameCapacity`
// frames, of which the first `frameLength` hold audio. Storage starts zeroed.
class PCMBuffer {
public:
    // Absent when the storage cannot be allocated.
    static std::optional<PCMBuffer> make(const AudioFormat& format, std::uint32_t frameCapacity);

    PCMBuffer(PCMBuffer&&) noexcept = default;
    PCMBuffer& operator=(PCMBuffer&&) noexcept = default;
    PCMBuffer(const PCMBuffer&) = delete;
    PCMBuffer& operator=(const PCMBuffer&) = delete;

    const AudioFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return frameCapacity_; }
    std::uint32_t frameLength() const { return frameLength_; }
    // Throws std::out_of_range past the capacity.
    void setFrameLength(std::uint32_t frameLength);

    // The whole plane of a channel (capacity frames); throws std::out_of_range for a bad channel.
    float* channelData(int channel);
    const float* channelData(int channel) const;
    // The frames that hold audio.
    std::span<float> channel(int channel) { return {channelData(channel), frameLength_}; }
    std::span<const float> channel(int channel) const { return {channelData(channel), frameLength_}; }

private:
    struct FreeStorage {
        void operator()(float* p) const { std::free(p); }
    };

    PCMBuffer(const AudioFormat& format, std::uint32_t frameCapacity, std::unique_ptr<float[], FreeStorage> storage);

    AudioFormat format_;
    std::uint32_t frameCapacity_ = 0;
    std::uint32_t frameLength_ = 0;
    std::unique_ptr<float[], FreeStorage> storage_;
};

} // namespace platform
