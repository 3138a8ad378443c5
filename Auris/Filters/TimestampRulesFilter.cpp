#include "Auris/Filters/TimestampRulesFilter.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace auris {

namespace {

constexpr float minusInfinity = -std::numeric_limits<float>::infinity();

// log(sum(exp(values))), minus infinity for an empty or all-banned range.
float logSumExp(const float* begin, const float* end)
{
    const float maximum = begin == end ? minusInfinity : *std::max_element(begin, end);
    if (maximum == minusInfinity || std::isnan(maximum)) {
        return maximum;
    }
    double sum = 0;
    for (const float* value = begin; value != end; ++value) {
        sum += std::exp(static_cast<double>(*value) - maximum);
    }
    return static_cast<float>(maximum + std::log(sum));
}

} // namespace

TimestampRulesFilter::TimestampRulesFilter(
    SpecialTokens specialTokens, int sampleBegin, std::optional<int> maxInitialTimestampIndex, bool isModelMultilingual)
    : specialTokens(specialTokens)
    , sampleBegin(sampleBegin)
    , maxInitialTimestampIndex(maxInitialTimestampIndex)
    , isModelMultilingual(isModelMultilingual)
{
}

ml::MultiArray TimestampRulesFilter::filterLogits(ml::MultiArray logits, const std::vector<int>& tokens) const
{
    const auto begin = sampleBeginFor(tokens);
    if (!begin || static_cast<long long>(tokens.size()) < *begin) {
        return logits;
    }
    banTokenIndexes(logits, tokenIndexes({specialTokens.noTimestampsToken}));
    if (sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(logits, specialTokens.timeTokenBegin)) {
        try {
            fillMultiArrayRange(logits, 0, specialTokens.timeTokenBegin, minusInfinity);
        } catch (const std::exception& error) {
            Logging::error(std::string("TimestampRulesFilter error: ") + error.what());
        }
    }
    return logits;
}

std::optional<int> TimestampRulesFilter::sampleBeginFor(const std::vector<int>& tokens) const
{
    if (!isModelMultilingual) {
        return sampleBegin;
    }
    const std::size_t searched = std::min<std::size_t>(tokens.size(), 3);
    for (std::size_t k = 0; k < searched; ++k) {
        if (tokens[k] == specialTokens.transcribeToken || tokens[k] == specialTokens.translateToken) {
            return std::max(static_cast<int>(k) + 1, sampleBegin);
        }
    }
    return std::nullopt;
}

bool TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(
    const ml::MultiArray& logits, int timeTokenBegin)
{
    try {
        const std::vector<float> scores = logits.toFloats();
        const auto n = static_cast<long long>(scores.size());
        if (timeTokenBegin < 0 || timeTokenBegin > n) {
            Logging::error("TimestampRulesFilter error: the first timestamp token lies outside the logits");
            return false;
        }
        const float normaliser = logSumExp(scores.data(), scores.data() + n);
        std::vector<float> logProbs(scores.size());
        for (std::size_t i = 0; i < scores.size(); ++i) {
            logProbs[i] = scores[i] - normaliser;
        }
        const float* textEnd = logProbs.data() + timeTokenBegin;
        const float timestampLogProb = logSumExp(textEnd, logProbs.data() + n);
        const float maxTextTokenLogProb
            = textEnd == logProbs.data() ? minusInfinity : *std::max_element(logProbs.cbegin(), logProbs.cbegin() + timeTokenBegin);
        return timestampLogProb > maxTextTokenLogProb;
    } catch (const std::exception& error) {
        Logging::error(std::string("TimestampRulesFilter error: ") + error.what());
        return false;
    }
}

} // namespace auris
