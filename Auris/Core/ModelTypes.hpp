#pragma once

#include "platform/ml/ComputeUnits.hpp"

#include <array>
#include <optional>
#include <string>

namespace auris {

enum class ModelVariant { tiny, tinyEn, base, baseEn, small, smallEn, medium, mediumEn, large, largev2, largev3 };

inline constexpr std::array<ModelVariant, 11> allModelVariants {ModelVariant::tiny, ModelVariant::tinyEn,
    ModelVariant::base, ModelVariant::baseEn, ModelVariant::small, ModelVariant::smallEn, ModelVariant::medium,
    ModelVariant::mediumEn, ModelVariant::large, ModelVariant::largev2, ModelVariant::largev3};

std::string description(ModelVariant variant); // "tiny", "tiny.en", ..., "large-v3"
bool isMultilingual(ModelVariant variant);

enum class ModelState { unloading, unloaded, loading, loaded, prewarming, prewarmed, downloading, downloaded };

std::string description(ModelState state); // "Unloading", ..., "Specialized", "Downloading", "Downloaded"

// Compute units of the four models.
struct ModelComputeOptions {
    ml::ComputeUnits melCompute = ml::ComputeUnits::cpuAndGPU;
    ml::ComputeUnits audioEncoderCompute = ml::ComputeUnits::cpuAndNeuralEngine;
    ml::ComputeUnits textDecoderCompute = ml::ComputeUnits::cpuAndNeuralEngine;
    ml::ComputeUnits prefillCompute = ml::ComputeUnits::cpuOnly;

    ModelComputeOptions() = default;
    ModelComputeOptions(ml::ComputeUnits melCompute, std::optional<ml::ComputeUnits> audioEncoderCompute,
        ml::ComputeUnits textDecoderCompute, ml::ComputeUnits prefillCompute)
        : melCompute(melCompute)
        , audioEncoderCompute(audioEncoderCompute.value_or(ml::ComputeUnits::cpuAndNeuralEngine))
        , textDecoderCompute(textDecoderCompute)
        , prefillCompute(prefillCompute)
    {
    }
    friend bool operator==(const ModelComputeOptions&, const ModelComputeOptions&) = default;
};

enum class DecodingTask { transcribe, translate };
inline constexpr std::array<DecodingTask, 2> allDecodingTasks {DecodingTask::transcribe, DecodingTask::translate};
std::string description(DecodingTask task); // "transcribe", "translate"

enum class ChunkingStrategy { none, vad };
inline constexpr std::array<ChunkingStrategy, 2> allChunkingStrategies {ChunkingStrategy::none, ChunkingStrategy::vad};
std::string rawValue(ChunkingStrategy strategy);
std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(const std::string& rawValue);

} // namespace auris
