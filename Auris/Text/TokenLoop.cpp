#include "Auris/Text/TokenLoop.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Auris/Filters/SuppressBlankFilter.hpp"
#include "Auris/Filters/SuppressTokensFilter.hpp"
#include "Auris/Filters/TimestampRulesFilter.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/MultiArrayUtilities.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace auris {

namespace {

int clampedCount(std::size_t count)
{
    return static_cast<int>(std::min<std::size_t>(count, 1u << 30));
}

} // namespace

TokenLoop::Bounds TokenLoop::loopBounds(const DecodingInputs& inputs, int sampleLength)
{
    if (inputs.initialPrompt.empty()) {
        throw WhisperError::decodingFailed("The decoder inputs hold no prompt");
    }
    if (inputs.cacheLength.count() < 1 || inputs.inputIds.count() < 1) {
        throw WhisperError::decodingFailed("The decoder inputs hold no cache length or input id");
    }
    const double cacheLength = inputs.cacheLength[0];
    if (!(cacheLength >= 0)) {
        throw WhisperError::decodingFailed("The decoder inputs hold a negative cache length");
    }
    Bounds bounds;
    bounds.prefilledIndex = static_cast<int>(std::min(cacheLength, 1e9));
    bounds.promptCount = static_cast<int>(inputs.initialPrompt.size());
    bounds.firstSampledIndex = std::max(bounds.prefilledIndex, bounds.promptCount - 1);

    // Each step writes its cache column and the masks one position further.
    const int positions = std::min({axisLength(inputs.keyCache, 3), axisLength(inputs.valueCache, 3),
        clampedCount(inputs.kvCacheUpdateMask.count()), clampedCount(inputs.decoderKeyPaddingMask.count())});
    if (positions < 1) {
        throw WhisperError::decodingFailed("The decoder inputs hold no cache positions");
    }
    bounds.limit = std::min({sampleLength, maxTokenCount, positions - 1});
    return bounds;
}

std::vector<std::unique_ptr<LogitsFiltering>> TokenLoop::makeFilters(const DecodingOptions& options,
    const SpecialTokens& special, int promptCount, std::optional<int> vocabulary, bool isModelMultilingual)
{
    std::vector<std::unique_ptr<LogitsFiltering>> filters;
    if (options.suppressBlank) {
        filters.push_back(std::make_unique<SuppressBlankFilter>(special, promptCount));
    }
    if (!options.supressTokens.empty()) {
        std::vector<int> suppressed;
        for (int token : options.supressTokens) {
            if (token < 0 || (vocabulary && token >= *vocabulary)) {
                Logging::error("Ignoring suppressed token " + std::to_string(token) + " outside the vocabulary");
            } else {
                suppressed.push_back(token);
            }
        }
        filters.push_back(std::make_unique<SuppressTokensFilter>(std::move(suppressed)));
    }
    if (!options.withoutTimestamps) {
        filters.push_back(std::make_unique<TimestampRulesFilter>(
            special, promptCount, timestampIndex(options.maxInitialTimestamp), isModelMultilingual));
    }
    return filters;
}

std::optional<int> TokenLoop::timestampIndex(std::optional<float> seconds)
{
    if (!seconds) {
        return std::nullopt;
    }
    const double index = std::trunc(static_cast<double>(*seconds) / secondsPerTimestamp);
    if (std::isnan(index)) {
        return std::nullopt;
    }
    return static_cast<int>(std::clamp(index, 0.0, static_cast<double>(std::numeric_limits<int>::max())));
}

TokenLoop::StepEnd TokenLoop::stepEnd(const Bounds& bounds, int tokenIndex, bool completed, float logProb,
    std::optional<float> firstTokenLogProbThreshold, std::size_t tokenCount)
{
    StepEnd end;
    end.isFirstTokenLogProbTooLow
        = tokenIndex == bounds.firstSampledIndex && firstTokenLogProbThreshold && *firstTokenLogProbThreshold > logProb;
    const bool isSampledStep = tokenIndex >= bounds.firstSampledIndex;
    end.endsWindow = (isSampledStep && completed) || end.isFirstTokenLogProbTooLow
        || tokenCount >= static_cast<std::size_t>(maxTokenCount);
    return end;
}

TokenLoop::Segment TokenLoop::segment(const SamplingResult& finalized, const SpecialTokens& special)
{
    const auto& tokens = finalized.tokens;
    const auto startIt = std::find(tokens.begin(), tokens.end(), special.startOfTranscriptToken);
    const auto first = startIt == tokens.end() ? tokens.begin() : startIt;
    const auto endIt = std::find(first, tokens.end(), special.endToken);
    const auto last = endIt == tokens.end() ? tokens.end() : endIt + 1;

    Segment segment;
    segment.tokens.assign(first, last);
    const auto from = static_cast<std::size_t>(first - tokens.begin());
    const auto to = std::min(static_cast<std::size_t>(last - tokens.begin()), finalized.logProbs.size());
    for (std::size_t i = from; i < to; ++i) {
        segment.logProbs.push_back(finalized.logProbs[i]);
    }
    return segment;
}

std::string TokenLoop::languageCode(const WhisperTokenizer& tokenizer, int token)
{
    const std::string text = tokenizer.decode({token});
    const auto delimiters = Constants::specialTokenDelimiters;
    const auto first = text.find_first_not_of(delimiters);
    if (first == std::string::npos) {
        return "";
    }
    const auto last = text.find_last_not_of(delimiters);
    return text.substr(first, last - first + 1);
}

TokenLoop::Language TokenLoop::language(const std::optional<std::string>& requested,
    const std::vector<int>& segmentTokens, const std::vector<std::map<int, float>>& tokenLogProbs,
    const WhisperTokenizer& tokenizer)
{
    if (requested) {
        return {*requested, {{*requested, 0.0f}}};
    }
    const auto& languageTokens = tokenizer.allLanguageTokens();
    const auto found = std::find_if(
        segmentTokens.begin(), segmentTokens.end(), [&](int token) { return languageTokens.contains(token); });
    if (found == segmentTokens.end()) {
        const std::string code(Constants::defaultLanguageCode);
        return {code, {{code, 0.0f}}};
    }
    const std::string code = languageCode(tokenizer, *found);
    float probability = 0.0f;
    if (const auto position = static_cast<std::size_t>(found - segmentTokens.begin()); position < tokenLogProbs.size()) {
        if (auto entry = tokenLogProbs[position].find(*found); entry != tokenLogProbs[position].end()) {
            probability = entry->second;
        }
    }
    return {code, {{code, probability}}};
}

} // namespace auris
