#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "platform/ml/MultiArray.hpp"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace auris {

// Key-value cache and alignment weights carried out of a decoded window.
struct DecodingCache {
    std::optional<ml::MultiArray> keyCache;
    std::optional<ml::MultiArray> valueCache;
    std::optional<ml::MultiArray> alignmentWeights;
};

// The outcome of decoding one window.
struct DecodingResult {
    std::string language;
    std::map<std::string, float> languageProbs;
    std::vector<int> tokens;
    std::vector<std::map<int, float>> tokenLogProbs;
    std::string text;
    float avgLogProb = 0;
    float noSpeechProb = 0;
    float temperature = 0;
    float compressionRatio = 0;
    std::optional<DecodingCache> cache;
    std::optional<TranscriptionTimings> timings;
    std::optional<DecodingFallback> fallback;

    static DecodingResult emptyResults() { return {}; }
};

} // namespace auris
