#include "Auris/Audio/EnergyVAD.hpp"

#include "Auris/Audio/AudioProcessor.hpp"

#include <cmath>
#include <stdexcept>

namespace auris {

namespace {

int samplesIn(float seconds, int sampleRate)
{
    const float samples = seconds * static_cast<float>(sampleRate);
    if (!(samples >= 0) || samples >= 2147483648.0f) {
        throw std::invalid_argument("voice activity frame sizes must be non-negative sample counts");
    }
    return static_cast<int>(samples);
}

} // namespace

EnergyVAD::EnergyVAD(int sampleRate, float frameLength, float frameOverlap, float energyThreshold)
    : sampleRate_(sampleRate)
    , frameLengthSamples_(samplesIn(frameLength, sampleRate))
    , frameOverlapSamples_(samplesIn(frameOverlap, sampleRate))
    , energyThreshold_(energyThreshold)
{
    if (frameLengthSamples_ < 1) {
        throw std::invalid_argument("a voice activity frame must hold at least one sample");
    }
}

std::vector<bool> EnergyVAD::voiceActivityFrames(std::span<const float> waveform) const
{
    const auto chunkCount = static_cast<int>(std::ceil(static_cast<double>(waveform.size()) / frameLengthSamples_));
    return AudioProcessor::calculateVoiceActivityInChunks(
        waveform, chunkCount, frameLengthSamples_, frameOverlapSamples_, energyThreshold_);
}

} // namespace auris
