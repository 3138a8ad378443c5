#pragma once

#include "platform/ml/Model.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"

#include <filesystem>
#include <memory>

// Small Whisper-shaped model sets for tests: big enough to exercise every path (several heads and
// layers, a cache longer than the steps run), small enough for plain-loop references.
namespace testmodels {

inline ml::WhisperShape microShape()
{
    ml::WhisperShape shape;
    shape.melCount = 8;
    shape.vocabularySize = 40;
    shape.width = 32;
    shape.audioLayers = 2;
    shape.audioHeads = 4;
    shape.textLayers = 2;
    shape.textHeads = 4;
    shape.audioSamples = 3200; // 20 mel frames, 10 encoder positions
    shape.textContext = 32;
    shape.cacheLength = 24;
    shape.alignmentHeads = {{1, 0}, {1, 3}, {0, 2}};
    return shape;
}

inline std::shared_ptr<ml::Model> load(const std::filesystem::path& folder)
{
    return ml::Model::load(folder, {ml::ComputeUnits::all});
}

} // namespace testmodels
