#include "Auris/Core/DecodingOptions.hpp"

#include <cmath>
#include <limits>

namespace auris {

const DecodingOptions& DecodingOptions::Arguments::defaults()
{
    static const DecodingOptions options;
    return options;
}

DecodingOptions::DecodingOptions(const Arguments& a)
    : verbose(a.verbose)
    , task(a.task)
    , language(a.language)
    , temperature(a.temperature)
    , temperatureIncrementOnFallback(a.temperatureIncrementOnFallback)
    , temperatureFallbackCount(a.temperatureFallbackCount)
    , sampleLength(a.sampleLength)
    , topK(a.topK)
    , usePrefillPrompt(a.usePrefillPrompt)
    , usePrefillCache(a.usePrefillCache)
    , detectLanguage(a.detectLanguage.value_or(!a.usePrefillPrompt))
    , skipSpecialTokens(a.skipSpecialTokens)
    , withoutTimestamps(a.withoutTimestamps)
    , wordTimestamps(a.wordTimestamps)
    , maxInitialTimestamp(a.maxInitialTimestamp)
    , clipTimestamps(a.clipTimestamps)
    , promptTokens(a.promptTokens)
    , prefixTokens(a.prefixTokens)
    , suppressBlank(a.suppressBlank)
    , supressTokens(a.supressTokens.value_or(std::vector<int> {}))
    , compressionRatioThreshold(a.compressionRatioThreshold)
    , logProbThreshold(a.logProbThreshold)
    , firstTokenLogProbThreshold(a.firstTokenLogProbThreshold)
    , noSpeechThreshold(a.noSpeechThreshold)
    , concurrentWorkerCount(a.concurrentWorkerCount)
    , chunkingStrategy(a.chunkingStrategy)
{
}

std::optional<DecodingFallback> DecodingFallback::make(const DecodingOptions& options, bool isFirstTokenLogProbTooLow,
    float noSpeechProb, float compressionRatio, float avgLogProb)
{
    if (isFirstTokenLogProbTooLow) {
        return DecodingFallback {true, "firstTokenLogProbThreshold"};
    }
    if (options.noSpeechThreshold && noSpeechProb > *options.noSpeechThreshold) {
        return DecodingFallback {false, "silence"};
    }
    if (options.compressionRatioThreshold && compressionRatio > *options.compressionRatioThreshold) {
        return DecodingFallback {true, "compressionRatioThreshold"};
    }
    if (options.logProbThreshold && avgLogProb < *options.logProbThreshold) {
        return DecodingFallback {true, "logProbThreshold"};
    }
    return std::nullopt;
}

std::vector<std::pair<int, int>> resolveSeekClips(int sampleCount, const std::optional<DecodingOptions>& options)
{
    const DecodingOptions resolved = options.value_or(DecodingOptions());
    std::vector<int> points;
    for (float seconds : resolved.clipTimestamps) {
        // Rounded to the nearest sample, halves away from zero; non-finite or huge values saturate.
        const float sample = std::round(16000.0f * seconds);
        if (std::isnan(sample)) {
            points.push_back(0);
        } else if (sample >= static_cast<float>(std::numeric_limits<int>::max())) {
            points.push_back(std::numeric_limits<int>::max());
        } else if (sample <= static_cast<float>(std::numeric_limits<int>::min())) {
            points.push_back(std::numeric_limits<int>::min());
        } else {
            points.push_back(static_cast<int>(sample));
        }
    }
    if (points.empty()) {
        points.push_back(0);
    }
    if (points.size() % 2 == 1) {
        points.push_back(sampleCount);
    }
    std::vector<std::pair<int, int>> clips;
    for (std::size_t i = 0; i + 1 < points.size(); i += 2) {
        clips.emplace_back(points[i], points[i + 1]);
    }
    return clips;
}

} // namespace auris
