#pragma once

#include "Auris/Filters/LogitsFiltering.hpp"

#include <set>

namespace auris {

// At its sample start leaves only language tokens choosable.
class LanguageLogitsFilter final : public LogitsFiltering {
public:
    LanguageLogitsFilter(std::set<int> allLanguageTokens, int logitsDim, int sampleBegin);

    const std::set<int> allLanguageTokens;
    const int logitsDim;
    const int sampleBegin;
    // Every id below `logitsDim` that is not a language token, rising.
    const TokenIndexes nonLanguageTokenIndexes;

    ml::MultiArray filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const override;
};

} // namespace auris
