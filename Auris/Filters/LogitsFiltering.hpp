#pragma once

#include "platform/ml/MultiArray.hpp"

#include <array>
#include <vector>

namespace auris {

// Positions (0, 0, token) of a [1, 1, V] logits array.
using TokenIndexes = std::vector<std::array<int, 3>>;

// Bans tokens before one decoding step by writing minus infinity over their scores, in place.
class LogitsFiltering {
public:
    virtual ~LogitsFiltering() = default;
    // `logits` is a float32 [1, 1, V] array; `tokens` the window's prompt and sampled tokens so far.
    // Returns the same array.
    virtual ml::MultiArray filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const = 0;
};

TokenIndexes tokenIndexes(const std::vector<int>& tokens);

// Writes minus infinity at every listed position; positions outside the vocabulary are skipped.
void banTokenIndexes(ml::MultiArray& logits, const TokenIndexes& indexes);

} // namespace auris
