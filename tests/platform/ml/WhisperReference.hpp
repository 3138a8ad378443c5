#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Straightforward Whisper mathematics in plain loops (double accumulation, no BLAS), to check the
// runtime's programs against.
namespace reference {

using Weights = std::map<std::string, std::vector<float>>;

// Every tensor of a model folder as floats.
Weights readWeights(const std::filesystem::path& folder);

// Log-mel features [melCount][samples / 160] by a direct DFT of each frame.
std::vector<float> logMel(const std::vector<float>& audio, int melCount);
// The Slaney filter bank written from its definition: [melCount][201].
std::vector<double> melFilters(int melCount);

struct Dimensions {
    int melCount = 0;
    int vocabularySize = 0;
    int width = 0;
    int heads = 0;
    int layers = 0;
};

// Encoder output [width][frames] from mel features [melCount][melFrames].
std::vector<float> encoder(const Weights& w, const Dimensions& d, const std::vector<float>& mel, int melFrames);

struct DecoderPass {
    std::vector<std::vector<float>> logits; // per position
    std::vector<std::vector<float>> alignment; // per position: mean cross-attention of the alignment heads
};

// A full causal pass over `tokens`. Self-attention keys and values are rounded to float16 as the
// cache stores them; with `halfCross` the cross-attention keys and values are rounded as well.
// Positions in `masked` are hidden from every later position.
DecoderPass decoder(const Weights& w, const Dimensions& d, const std::vector<std::pair<int, int>>& alignmentHeads,
    const std::vector<float>& encoderOutput, int frames, const std::vector<int>& tokens, bool halfCross,
    const std::vector<int>& masked = {});

float roundToHalf(float value);

} // namespace reference
