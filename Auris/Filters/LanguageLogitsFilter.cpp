#include "Auris/Filters/LanguageLogitsFilter.hpp"

namespace auris {

namespace {

TokenIndexes nonLanguageIndexes(const std::set<int>& languageTokens, int logitsDim)
{
    TokenIndexes indexes;
    for (int i = 0; i < logitsDim; ++i) {
        if (!languageTokens.contains(i)) {
            indexes.push_back({0, 0, i});
        }
    }
    return indexes;
}

} // namespace

LanguageLogitsFilter::LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim, int sampleBegin)
    : allLanguageTokens(std::move(allLanguageTokens))
    , logitsDim(logitsDim)
    , sampleBegin(sampleBegin)
    , nonLanguageTokenIndexes(nonLanguageIndexes(this->allLanguageTokens, logitsDim))
{
}

ml::MultiArray LanguageLogitsFilter::filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const
{
    if (static_cast<long long>(tokens.size()) == sampleBegin) {
        banTokenIndexes(logits, nonLanguageTokenIndexes);
    }
    return logits;
}

} // namespace auris
