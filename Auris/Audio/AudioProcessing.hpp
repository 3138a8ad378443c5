#pragma once

#include "Auris/Audio/WaveformImage.hpp"
#include "platform/ml/MultiArray.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace auris {

// Receives each converted buffer of live capture (16 kHz mono samples).
using AudioBufferCallback = std::function<void(const std::vector<float>&)>;

// How the engine reaches audio: file loading lives on `AudioProcessor` as type-level operations;
// this interface holds the window cutting that every implementation shares and the live-capture
// requirements that an implementation provides.
class AudioProcessing {
public:
    static constexpr int sampleRate = 16000;
    static constexpr int windowSamples = 480'000;

    virtual ~AudioProcessing() = default;

    // `toLength` samples from `startAt` as a float32 [toLength] array, zero-filled past the end of
    // the samples (a start at or past their end gives zeros). With `saveSegment` the window is also
    // written to Downloads/AurisSegments/segment_<start seconds>.wav; a failure there is only logged.
    // Absent for a negative start or when the array cannot be made.
    static std::optional<ml::MultiArray> padOrTrimAudio(
        std::span<const float> audioArray, int startAt = 0, int toLength = windowSamples, bool saveSegment = false);

    // The first width x height samples' bytes as an image. Throws WhisperError (audioProcessingFailed)
    // for a size without pixels or fewer samples than it has pixels.
    static WaveformImage createWaveformImage(std::span<const float> audio, WaveformImage::Size size);

    // Live capture.
    virtual std::vector<float> audioSamples() const = 0;
    virtual void purgeAudioSamples(int keepingLast) = 0;
    virtual std::vector<float> relativeEnergy() const = 0;
    virtual int relativeEnergyWindow() const = 0;
    virtual void setRelativeEnergyWindow(int window) = 0;
    virtual void startRecordingLive(std::optional<std::uint32_t> inputDeviceID = std::nullopt, AudioBufferCallback callback = {}) = 0;
    virtual void pauseRecording() = 0;
    virtual void stopRecording() = 0;
    virtual void resumeRecordingLive(std::optional<std::uint32_t> inputDeviceID = std::nullopt, AudioBufferCallback callback = {}) = 0;
};

} // namespace auris
