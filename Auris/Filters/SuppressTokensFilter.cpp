#include "Auris/Filters/SuppressTokensFilter.hpp"

namespace auris {

SuppressTokensFilter::SuppressTokensFilter(std::vector<int> suppressTokens)
    : suppressTokens(std::move(suppressTokens))
    , suppressTokenIndexes(tokenIndexes(this->suppressTokens))
{
}

ml::MultiArray SuppressTokensFilter::filterLogits(ml::MultiArray logits, const std::vector<int>&) const
{
    banTokenIndexes(logits, suppressTokenIndexes);
    return logits;
}

} // namespace auris
