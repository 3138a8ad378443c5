#pragma once

#include "Auris/Segments/AlignmentPath.hpp"
#include "Auris/Segments/SegmentSeeking.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace auris {

// The engine's segment seeker. Stateless: calls from several threads may run at once.
class SegmentSeeker : public SegmentSeeking {
public:
    static constexpr float secondsPerTimeToken = 0.02f;
    static constexpr int engineSampleRate = 16000;
    // Frame count assumed for the end of an empty alignment path.
    static constexpr int defaultFrameCount = 1500;
    static constexpr float medianDurationCap = 0.7f;
    static constexpr float segmentBoundarySlack = 0.5f;

    SegmentSeeker() = default;

    std::pair<int, std::optional<std::vector<TranscriptionSegment>>> findSeekPointAndSegments(
        const DecodingResult& decodingResult, const DecodingOptions& options, int allSegmentsCount, int currentSeek,
        int segmentSize, int sampleRate, int timeToken, int specialToken,
        const WhisperTokenizer& tokenizer) const override;

    // Tokens that split into fewer than two words get no timings: every segment gets an empty list.
    std::vector<TranscriptionSegment> addWordTimestamps(std::vector<TranscriptionSegment> segments,
        const ml::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer, int seek, int segmentSize,
        std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
        const DecodingOptions& options, const TranscriptionTimings& timings) const override;

    // Word timings (seconds from the window start) for the tokens aligned to the rows of the
    // [tokens, frames] weights. `tokenLogProbs` holds each token position's log-probability when
    // known; a word's probability is 10 to the mean of its known values, 0 when none is known.
    virtual std::vector<WordTiming> findAlignment(const std::vector<int>& wordTokenIds,
        const ml::MultiArray& alignmentWeights, const std::vector<std::optional<float>>& tokenLogProbs,
        const WhisperTokenizer& tokenizer, const TranscriptionTimings& timings) const;

    // Cheapest monotonic path through the negated weights of a two-dimensional matrix.
    // Throws WhisperError (segmentingFailed) for any other shape.
    virtual AlignmentPath dynamicTimeWarping(const ml::MultiArray& matrix) const;

    // The cheapest of the three steps into a cell; ties go to the step from the left.
    virtual std::pair<double, int> minCostAndTrace(double costDiagonal, double costUp, double costLeft,
        double matrixValue) const;

    // Walks the trace from its last cell back to the first.
    virtual AlignmentPath backtrace(const TraceMatrix& trace) const;

    // Joins opening marks to the word after them and closing marks to the word before them, then
    // drops empty words and marks that stayed alone.
    virtual std::vector<WordTiming> mergePunctuations(const std::vector<WordTiming>& alignment,
        std::string_view prepended, std::string_view appended) const;
};

} // namespace auris
