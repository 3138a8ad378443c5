#pragma once

#include "Auris/Filters/LogitsFiltering.hpp"
#include "Auris/Text/SpecialTokens.hpp"

namespace auris {

// At the first sampled position bans the bare space and the end token, so that the text neither
// starts with a blank nor ends at once.
class SuppressBlankFilter final : public LogitsFiltering {
public:
    SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin);

    const SpecialTokens specialTokens;
    const int sampleBegin;
    const TokenIndexes suppressTokenIndexes;

    ml::MultiArray filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const override;
};

} // namespace auris
