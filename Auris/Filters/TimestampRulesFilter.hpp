#pragma once

#include "Auris/Filters/LogitsFiltering.hpp"
#include "Auris/Text/SpecialTokens.hpp"

#include <optional>

namespace auris {

// From the first sampled position on, bans the no-timestamps token and, when the timestamp tokens
// together are more probable than any single other token, everything but timestamps.
class TimestampRulesFilter final : public LogitsFiltering {
public:
    TimestampRulesFilter(
        SpecialTokens specialTokens, int sampleBegin, std::optional<int> maxInitialTimestampIndex, bool isModelMultilingual);

    const SpecialTokens specialTokens;
    const int sampleBegin;
    // Kept for callers; no rule limits the first timestamp with it.
    const std::optional<int> maxInitialTimestampIndex;
    const bool isModelMultilingual;

    ml::MultiArray filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const override;

private:
    std::optional<int> sampleBeginFor(const std::vector<int>& tokens) const;
    static bool sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const ml::MultiArray& logits, int timeTokenBegin);
};

} // namespace auris
