#include "Auris/Core/ModelTypes.hpp"

namespace auris {

std::string description(ModelVariant variant)
{
    switch (variant) {
    case ModelVariant::tiny: return "tiny";
    case ModelVariant::tinyEn: return "tiny.en";
    case ModelVariant::base: return "base";
    case ModelVariant::baseEn: return "base.en";
    case ModelVariant::small: return "small";
    case ModelVariant::smallEn: return "small.en";
    case ModelVariant::medium: return "medium";
    case ModelVariant::mediumEn: return "medium.en";
    case ModelVariant::large: return "large";
    case ModelVariant::largev2: return "large-v2";
    case ModelVariant::largev3: return "large-v3";
    }
    return "base";
}

bool isMultilingual(ModelVariant variant)
{
    switch (variant) {
    case ModelVariant::tinyEn:
    case ModelVariant::baseEn:
    case ModelVariant::smallEn:
    case ModelVariant::mediumEn: return false;
    default: return true;
    }
}

std::string description(ModelState state)
{
    switch (state) {
    case ModelState::unloading: return "Unloading";
    case ModelState::unloaded: return "Unloaded";
    case ModelState::loading: return "Loading";
    case ModelState::loaded: return "Loaded";
    case ModelState::prewarming: return "Specializing";
    case ModelState::prewarmed: return "Specialized";
    case ModelState::downloading: return "Downloading";
    case ModelState::downloaded: return "Downloaded";
    }
    return "Unloaded";
}

std::string description(DecodingTask task)
{
    return task == DecodingTask::transcribe ? "transcribe" : "translate";
}

std::string rawValue(ChunkingStrategy strategy)
{
    return strategy == ChunkingStrategy::none ? "none" : "vad";
}

std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(const std::string& rawValue)
{
    if (rawValue == "none") return ChunkingStrategy::none;
    if (rawValue == "vad") return ChunkingStrategy::vad;
    return std::nullopt;
}

} // namespace auris
