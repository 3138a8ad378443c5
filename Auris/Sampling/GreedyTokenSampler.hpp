#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Sampling/TokenSampling.hpp"

#include <cstdint>
#include <functional>

namespace auris {

// Argmax at temperature 0; otherwise a draw among the `topK` most probable tokens of the
// temperature-scaled distribution.
class GreedyTokenSampler : public TokenSampling {
public:
    // Uniformly distributed 32-bit values; the default is the system's thread-safe source.
    using RandomSource = std::function<std::uint32_t()>;

    GreedyTokenSampler(float temperature, int eotToken, DecodingOptions decodingOptions, RandomSource randomSource = {});

    float temperature;
    int eotToken;
    DecodingOptions decodingOptions;

    // A vector without a finite score cannot be sampled: the error is logged and the window ends
    // with `eotToken` at log-probability -infinity.
    SamplingResult update(
        const std::vector<int>& tokens, const ml::MultiArray& logits, const std::vector<float>& logProbs) override;
    SamplingResult finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) override;

private:
    RandomSource randomSource_;
    // Reused across steps: a vocabulary-sized buffer per step would cost more than the sampling.
    std::vector<float> input_;
};

} // namespace auris
