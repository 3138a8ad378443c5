#include "Auris/Filters/TimestampRulesFilter.hpp"
#include "TensorUtils/Math.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"
#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace auris {

namespace {

constexpr float minusInfinity = -std::numeric_limits<float>::infinity();

float logSumExp(const float* begin, const float* end)
{
    return tensorutils::Math::logSumExp(std::span<const float>(begin, end));
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
        // Read in place when possible: this runs over the whole vocabulary at every step.
        std::vector<float> converted;
        const float* scores = logits.floatsInPlace(converted);
        const auto n = static_cast<long long>(logits.count());
        if (timeTokenBegin < 0 || timeTokenBegin > n) {
            Logging::error("TimestampRulesFilter error: the first timestamp token lies outside the logits");
            return false;
        }
        // Both log-probabilities subtract the same log-softmax normaliser, which therefore never
        // changes the answer and is left out: the whole vocabulary is read once, for the text
        // tokens' maximum.
        const float timestampLogProb = logSumExp(scores + timeTokenBegin, scores + n);
        const float maxTextTokenLogProb = timeTokenBegin > 0
            ? ml::maximum(scores, static_cast<std::size_t>(timeTokenBegin))
            : minusInfinity;
        return timestampLogProb > maxTextTokenLogProb;
    } catch (const std::exception& error) {
        Logging::error(std::string("TimestampRulesFilter error: ") + error.what());
        return false;
    }
}

} // namespace auris
