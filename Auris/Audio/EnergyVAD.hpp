#pragma once

#include <span>
#include <vector>

namespace auris {

// Voice activity by frame energy: a frame is voiced when the RMS of its samples exceeds the threshold.
class EnergyVAD {
public:
    // Frame length and overlap in seconds; each becomes a whole number of samples (truncated).
    // Throws std::invalid_argument when the frame would hold no sample or the overlap is negative.
    explicit EnergyVAD(int sampleRate = 16000, float frameLength = 0.1f, float frameOverlap = 0.0f, float energyThreshold = 0.02f);

    int sampleRate() const { return sampleRate_; }
    int frameLengthSamples() const { return frameLengthSamples_; }
    int frameOverlapSamples() const { return frameOverlapSamples_; }
    float energyThreshold() const { return energyThreshold_; }

    // One flag per frame; the last frame may be short.
    std::vector<bool> voiceActivityFrames(std::span<const float> waveform) const;

private:
    int sampleRate_;
    int frameLengthSamples_;
    int frameOverlapSamples_;
    float energyThreshold_;
};

} // namespace auris
