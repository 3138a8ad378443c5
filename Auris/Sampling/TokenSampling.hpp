#pragma once

#include "platform/ml/MultiArray.hpp"

#include <vector>

namespace auris {

// A window's token sequence after one sampling step.
struct SamplingResult {
    std::vector<int> tokens;
    std::vector<float> logProbs;
    bool completed = false;

    friend bool operator==(const SamplingResult&, const SamplingResult&) = default;
};

// Turns one step's filtered logits into the next token, and closes a window's sequence.
class TokenSampling {
public:
    virtual ~TokenSampling() = default;
    // `logits` holds one score per vocabulary entry; `tokens` and `logProbs` are the sequence so far.
    virtual SamplingResult update(
        const std::vector<int>& tokens, const ml::MultiArray& logits, const std::vector<float>& logProbs) = 0;
    virtual SamplingResult finalize(const std::vector<int>& tokens, const std::vector<float>& logProbs) = 0;
};

} // namespace auris
