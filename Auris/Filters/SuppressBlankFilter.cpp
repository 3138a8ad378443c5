#include "Auris/Filters/SuppressBlankFilter.hpp"

namespace auris {

SuppressBlankFilter::SuppressBlankFilter(SpecialTokens specialTokens, int sampleBegin)
    : specialTokens(specialTokens)
    , sampleBegin(sampleBegin)
    , suppressTokenIndexes(tokenIndexes({specialTokens.whitespaceToken, specialTokens.endToken}))
{
}

ml::MultiArray SuppressBlankFilter::filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const
{
    if (static_cast<long long>(tokens.size()) == sampleBegin) {
        banTokenIndexes(logits, suppressTokenIndexes);
    }
    return logits;
}

} // namespace auris
