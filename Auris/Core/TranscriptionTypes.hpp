#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace auris {

struct WordTiming {
    std::string word;
    std::vector<int> tokens;
    float start = 0;
    float end = 0;
    float probability = 0;

    friend bool operator==(const WordTiming&, const WordTiming&) = default;
};

struct TranscriptionSegment {
    int id = 0;
    int seek = 0;
    float start = 0.0f;
    float end = 0.0f;
    std::string text;
    std::vector<int> tokens;
    std::vector<std::map<int, float>> tokenLogProbs {std::map<int, float> {}};
    float temperature = 1.0f;
    float avgLogprob = 0.0f;
    float compressionRatio = 1.0f;
    float noSpeechProb = 0.0f;
    std::optional<std::vector<WordTiming>> words;

    friend bool operator==(const TranscriptionSegment&, const TranscriptionSegment&) = default;
};

// Stage durations (seconds) and run counters of one call.
struct TranscriptionTimings {
    double pipelineStart = std::numeric_limits<double>::max();
    double firstTokenTime = std::numeric_limits<double>::max();
    double inputAudioSeconds = 0.001;
    double modelLoading = 0;
    double audioLoading = 0;
    double audioProcessing = 0;
    double logmels = 0;
    double encoding = 0;
    double prefill = 0;
    double decodingInit = 0;
    double decodingLoop = 0;
    double decodingPredictions = 0;
    double decodingFiltering = 0;
    double decodingSampling = 0;
    double decodingFallback = 0;
    double decodingWindowing = 0;
    double decodingKvCaching = 0;
    double decodingWordTimestamps = 0;
    double decodingNonPrediction = 0;
    double totalAudioProcessingRuns = 0;
    double totalLogmelRuns = 0;
    double totalEncodingRuns = 0;
    double totalDecodingLoops = 0;
    double totalKVUpdateRuns = 0;
    double totalTimestampAlignmentRuns = 0;
    double totalDecodingFallbacks = 0;
    double totalDecodingWindows = 0;
    double fullPipeline = 0;

    double tokensPerSecond() const { return totalDecodingLoops / fullPipeline; }
    double realTimeFactor() const { return fullPipeline / inputAudioSeconds; }
    double speedFactor() const { return inputAudioSeconds / fullPipeline; }

    friend bool operator==(const TranscriptionTimings&, const TranscriptionTimings&) = default;
};

struct TranscriptionResult {
    std::string text;
    std::vector<TranscriptionSegment> segments;
    std::string language;
    TranscriptionTimings timings;
    std::optional<float> seekTime;

    std::vector<WordTiming> allWords() const;
    // One debug line per segment, and the timing report at info level.
    void logSegments() const;
    void logTimings() const;

    friend bool operator==(const TranscriptionResult&, const TranscriptionResult&) = default;
};

// What a progress callback receives for each decoding step.
struct TranscriptionProgress {
    TranscriptionTimings timings;
    std::string text;
    std::vector<int> tokens;
    std::optional<float> temperature;
    std::optional<float> avgLogprob;
    std::optional<float> compressionRatio;
    int windowId = 0;
    // Seconds of the call's audio decoded so far, and in all, summed over its chunks (which may run
    // side by side); both 0 when not known.
    double audioSecondsDone = 0;
    double audioSecondsTotal = 0;
};

// The segment shifted by `seekTime` seconds (and its seek by the matching sample count). A seek
// offset beyond the Int range saturates; a time that is not a number moves no samples.
TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime);

} // namespace auris

template<>
struct std::hash<auris::WordTiming> {
    std::size_t operator()(const auris::WordTiming& word) const noexcept;
};

template<>
struct std::hash<auris::TranscriptionSegment> {
    std::size_t operator()(const auris::TranscriptionSegment& segment) const noexcept;
};
