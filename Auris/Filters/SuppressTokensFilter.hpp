#pragma once

#include "Auris/Filters/LogitsFiltering.hpp"

namespace auris {

// Bans a fixed list of tokens at every step.
class SuppressTokensFilter final : public LogitsFiltering {
public:
    explicit SuppressTokensFilter(std::vector<int> suppressTokens);

    const std::vector<int> suppressTokens;
    const TokenIndexes suppressTokenIndexes;

    ml::MultiArray filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const override;
};

} // namespace auris
