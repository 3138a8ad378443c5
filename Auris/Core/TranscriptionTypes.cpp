#include "Auris/Core/TranscriptionTypes.hpp"

#include "Auris/Core/TimingStages.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/TextFormatting.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace auris {

std::vector<WordTiming> TranscriptionResult::allWords() const
{
    std::vector<WordTiming> words;
    for (const auto& segment : segments) {
        if (segment.words) {
            words.insert(words.end(), segment.words->begin(), segment.words->end());
        }
    }
    return words;
}

namespace {

// Truncates toward zero like an integer conversion, but saturates at the ends of the range and
// takes a time that is not a number as no offset.
int saturatingInt(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

std::string padded(std::string label, std::size_t width)
{
    if (label.size() < width) label.append(width - label.size(), ' ');
    return label;
}

} // namespace

void TranscriptionResult::logSegments() const
{
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& segment = segments[i];
        Logging::debug("[Segment " + std::to_string(i) + "] ["
            + formatString("%.2f", static_cast<double>(segment.start)) + " --> "
            + formatString("%.2f", static_cast<double>(segment.end)) + "] " + segment.text);
    }
}

void TranscriptionResult::logTimings() const
{
    const TranscriptionTimings& t = timings;
    const double total = std::max(t.decodingLoop, t.fullPipeline) * 1000;
    long long tokenCount = 0;
    for (const auto& segment : segments) {
        tokenCount += static_cast<long long>(segment.tokens.size());
    }
    std::string report = "---- Transcription Timings ----";
    for (const auto& stage : timingStages(t)) {
        report += "\n" + padded(stage.label, 21) + formatTimingLine(stage.seconds, stage.runs, total);
    }

    auto summary = [&](const char* label, const std::string& value) { report += "\n" + padded(label, 31) + value; };
    report += "\n" + std::string(31, '-');
    summary("Model Load Time:", formatString("%.2f", t.modelLoading) + " seconds");
    summary("Inference Duration (Global):", formatString("%.2f", t.fullPipeline) + " seconds");
    summary("- Decoding Loop (Avg/window):",
        formatString("%.2f", t.decodingLoop / t.totalAudioProcessingRuns) + " seconds");
    summary("- Audio Windows:", formatString("%.2f", t.totalAudioProcessingRuns));
    summary("Time to first token:", formatString("%.2f", t.firstTokenTime - t.pipelineStart) + " seconds");
    summary("Total Tokens:", std::to_string(tokenCount));
    summary("Tokens per Second:", formatString("%.2f", t.tokensPerSecond()) + " tok/s");
    summary("Real Time Factor:", formatString("%.3f", t.realTimeFactor()));
    summary("Fallbacks:", platform::numberText(t.totalDecodingFallbacks));
    Logging::info(report);
}

TranscriptionSegment updateSegmentTimings(const TranscriptionSegment& segment, float seekTime)
{
    TranscriptionSegment shifted = segment;
    const long long seek = static_cast<long long>(segment.seek) + saturatingInt(static_cast<double>(16000.0f * seekTime));
    shifted.seek = static_cast<int>(std::clamp<long long>(seek, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    shifted.start += seekTime;
    shifted.end += seekTime;
    if (shifted.words) {
        for (auto& word : *shifted.words) {
            word.start += seekTime;
            word.end += seekTime;
        }
    }
    return shifted;
}

std::string WhisperError::errorDescription() const
{
    Logging::error(message());
    return message();
}

} // namespace auris

namespace {

void combine(std::size_t& seed, std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

template<typename T>
void combine(std::size_t& seed, const T& value)
{
    combine(seed, std::hash<T> {}(value));
}

void combineTokens(std::size_t& seed, const std::vector<int>& tokens)
{
    combine(seed, tokens.size());
    for (int token : tokens) combine(seed, token);
}

} // namespace

std::size_t std::hash<auris::WordTiming>::operator()(const auris::WordTiming& word) const noexcept
{
    std::size_t seed = 0;
    combine(seed, word.word);
    combineTokens(seed, word.tokens);
    combine(seed, word.start);
    combine(seed, word.end);
    combine(seed, word.probability);
    return seed;
}

std::size_t std::hash<auris::TranscriptionSegment>::operator()(const auris::TranscriptionSegment& segment) const noexcept
{
    std::size_t seed = 0;
    combine(seed, segment.id);
    combine(seed, segment.seek);
    combine(seed, segment.start);
    combine(seed, segment.end);
    combine(seed, segment.text);
    combineTokens(seed, segment.tokens);
    combine(seed, segment.tokenLogProbs.size());
    for (const auto& entry : segment.tokenLogProbs) {
        for (const auto& [token, logProb] : entry) {
            combine(seed, token);
            combine(seed, logProb);
        }
    }
    combine(seed, segment.temperature);
    combine(seed, segment.avgLogprob);
    combine(seed, segment.compressionRatio);
    combine(seed, segment.noSpeechProb);
    combine(seed, segment.words.has_value());
    if (segment.words) {
        for (const auto& word : *segment.words) combine(seed, std::hash<auris::WordTiming> {}(word));
    }
    return seed;
}
