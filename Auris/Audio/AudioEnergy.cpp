// The energy measures of AudioProcessor.

#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/EnergyVAD.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace auris {

namespace {

// Sum of squares with independent partial sums, so the loop vectorises without reassociation flags.
float sumOfSquares(std::span<const float> signal)
{
    constexpr std::size_t lanes = 8;
    float partial[lanes] = {};
    std::size_t i = 0;
    for (; i + lanes <= signal.size(); i += lanes) {
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            partial[lane] += signal[i + lane] * signal[i + lane];
        }
    }
    float sum = 0;
    for (; i < signal.size(); ++i) {
        sum += signal[i] * signal[i];
    }
    for (float value : partial) {
        sum += value;
    }
    return sum;
}

} // namespace

float AudioProcessor::calculateAverageEnergy(std::span<const float> signal)
{
    if (signal.empty()) {
        return 0;
    }
    return std::sqrt(sumOfSquares(signal) / static_cast<float>(signal.size()));
}

AudioProcessor::Energy AudioProcessor::calculateEnergy(std::span<const float> signal)
{
    if (signal.empty()) {
        return {};
    }
    float largest = 0;
    float smallest = std::numeric_limits<float>::infinity();
    for (float sample : signal) {
        largest = std::max(largest, std::fabs(sample));
        smallest = std::min(smallest, std::fabs(sample));
    }
    return {calculateAverageEnergy(signal), largest, smallest};
}

float AudioProcessor::calculateRelativeEnergy(std::span<const float> signal, std::optional<float> relativeTo)
{
    const float signalDb = 20 * std::log10(calculateAverageEnergy(signal));
    const float referenceDb = relativeTo ? 20 * std::log10(std::max(*relativeTo, 1e-8f)) : -60.0f;
    const float relative = (signalDb - referenceDb) / (0 - referenceDb);
    if (std::isnan(relative)) {
        return 0;
    }
    return std::clamp(relative, 0.0f, 1.0f);
}

std::vector<bool> AudioProcessor::calculateVoiceActivityInChunks(
    std::span<const float> signal, int chunkCount, int frameLengthSamples, int frameOverlapSamples, float energyThreshold)
{
    std::vector<bool> activity;
    activity.reserve(static_cast<std::size_t>(std::max(chunkCount, 0)));
    const auto count = static_cast<std::int64_t>(signal.size());
    for (std::int64_t i = 0; i < chunkCount; ++i) {
        const std::int64_t start = std::min(count, i * std::max(frameLengthSamples, 0));
        const std::int64_t end = std::clamp<std::int64_t>(
            start + std::int64_t {std::max(frameLengthSamples, 0)} + std::max(frameOverlapSamples, 0), start, count);
        const float energy = calculateAverageEnergy(signal.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
        activity.push_back(energy > energyThreshold);
    }
    return activity;
}

std::vector<AudioProcessor::SampleRange> AudioProcessor::calculateNonSilentChunks(std::span<const float> signal)
{
    const EnergyVAD vad;
    const std::vector<bool> activity = vad.voiceActivityFrames(signal);
    const auto count = static_cast<std::int64_t>(signal.size());
    const std::int64_t frameLength = vad.frameLengthSamples();
    std::vector<SampleRange> ranges;
    bool previousVoiced = false;
    for (std::size_t i = 0; i < activity.size(); ++i) {
        if (!activity[i]) {
            previousVoiced = false;
            continue;
        }
        const std::int64_t start = static_cast<std::int64_t>(i) * frameLength;
        const auto end = static_cast<int>(std::min(count, start + frameLength));
        if (previousVoiced) {
            ranges.back().endIndex = end;
        } else {
            ranges.push_back({static_cast<int>(start), end});
        }
        previousVoiced = true;
    }
    return ranges;
}

bool AudioProcessor::isVoiceDetected(std::span<const float> relativeEnergies, float nextBufferInSeconds, float silenceThreshold)
{
    // Each energy entry stands for 0.1 s of audio.
    const float entries = nextBufferInSeconds / 0.1f;
    const std::size_t wanted = entries > 0 ? static_cast<std::size_t>(std::min(entries, static_cast<float>(relativeEnergies.size()))) : 0;
    const auto recent = relativeEnergies.last(std::min(wanted, relativeEnergies.size()));
    const std::size_t kept = std::min(recent.size(), std::max<std::size_t>(recent.size() > 10 ? recent.size() - 10 : 0, 10));
    return std::any_of(recent.begin(), recent.begin() + static_cast<std::ptrdiff_t>(kept),
        [silenceThreshold](float energy) { return energy > silenceThreshold; });
}

} // namespace auris
