#pragma once

#include "Auris/Core/ModelTypes.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace auris {

// The settings of one transcription call. Build with designated initialisers; `detectLanguage`
// left absent becomes the opposite of `usePrefillPrompt` (see `resolved`).
struct DecodingOptions {
    bool verbose = false;
    DecodingTask task = DecodingTask::transcribe;
    std::optional<std::string> language;
    float temperature = 0.0f;
    float temperatureIncrementOnFallback = 0.2f;
    int temperatureFallbackCount = 5;
    int sampleLength = 224;
    int topK = 5;
    bool usePrefillPrompt = true;
    bool usePrefillCache = true;
    bool detectLanguage = false;
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    std::optional<float> maxInitialTimestamp;
    std::vector<float> clipTimestamps;
    std::optional<std::vector<int>> promptTokens;
    std::optional<std::vector<int>> prefixTokens;
    bool suppressBlank = false;
    std::vector<int> supressTokens;
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    int concurrentWorkerCount = 0;
    std::optional<ChunkingStrategy> chunkingStrategy;

    DecodingOptions() = default;

    // The labelled initialiser: every argument in field order; `detectLanguage` absent becomes
    // !usePrefillPrompt and `supressTokens` absent becomes empty.
    struct Arguments;
    explicit DecodingOptions(const Arguments& arguments);

    friend bool operator==(const DecodingOptions&, const DecodingOptions&) = default;
};

// Its defaults are the struct's own.
struct DecodingOptions::Arguments {
    bool verbose = defaults().verbose;
    DecodingTask task = defaults().task;
    std::optional<std::string> language = defaults().language;
    float temperature = defaults().temperature;
    float temperatureIncrementOnFallback = defaults().temperatureIncrementOnFallback;
    int temperatureFallbackCount = defaults().temperatureFallbackCount;
    int sampleLength = defaults().sampleLength;
    int topK = defaults().topK;
    bool usePrefillPrompt = defaults().usePrefillPrompt;
    bool usePrefillCache = defaults().usePrefillCache;
    std::optional<bool> detectLanguage;
    bool skipSpecialTokens = defaults().skipSpecialTokens;
    bool withoutTimestamps = defaults().withoutTimestamps;
    bool wordTimestamps = defaults().wordTimestamps;
    std::optional<float> maxInitialTimestamp = defaults().maxInitialTimestamp;
    std::vector<float> clipTimestamps = defaults().clipTimestamps;
    std::optional<std::vector<int>> promptTokens = defaults().promptTokens;
    std::optional<std::vector<int>> prefixTokens = defaults().prefixTokens;
    bool suppressBlank = defaults().suppressBlank;
    std::optional<std::vector<int>> supressTokens;
    std::optional<float> compressionRatioThreshold = defaults().compressionRatioThreshold;
    std::optional<float> logProbThreshold = defaults().logProbThreshold;
    std::optional<float> firstTokenLogProbThreshold = defaults().firstTokenLogProbThreshold;
    std::optional<float> noSpeechThreshold = defaults().noSpeechThreshold;
    int concurrentWorkerCount = defaults().concurrentWorkerCount;
    std::optional<ChunkingStrategy> chunkingStrategy = defaults().chunkingStrategy;

private:
    static const DecodingOptions& defaults();
};

// Whether a decoded window must be decoded again at a higher temperature.
struct DecodingFallback {
    bool needsFallback = false;
    std::string fallbackReason;

    // Absent when the window is accepted.
    static std::optional<DecodingFallback> make(const DecodingOptions& options, bool isFirstTokenLogProbTooLow,
        float noSpeechProb, float compressionRatio, float avgLogProb);

    friend bool operator==(const DecodingFallback&, const DecodingFallback&) = default;
};

// One piece of a long recording: its first sample's index in the whole audio, and its samples.
struct AudioChunk {
    int seekOffsetIndex = 0;
    std::vector<float> audioSamples;
};

// The (start, end) sample ranges a transcription covers, from the options' clip timestamps.
std::vector<std::pair<int, int>> resolveSeekClips(int sampleCount, const std::optional<DecodingOptions>& options);

} // namespace auris
