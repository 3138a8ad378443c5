#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/DecodingResult.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"
#include "Auris/Text/WhisperTokenizer.hpp"
#include "platform/ml/MultiArray.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace auris {

// Cuts a decoded window into timed segments, finds where the next window starts, and places words
// in time from the decoder's alignment weights.
class SegmentSeeking {
public:
    virtual ~SegmentSeeking() = default;

    // The next seek position in samples and the window's new segments; no segments when the window
    // is skipped as silence. The seek is never before `currentSeek` but may equal it, so a caller
    // that loops over windows must make its own progress in that case.
    virtual std::pair<int, std::optional<std::vector<TranscriptionSegment>>> findSeekPointAndSegments(
        const DecodingResult& decodingResult, const DecodingOptions& options, int allSegmentsCount, int currentSeek,
        int segmentSize, int sampleRate, int timeToken, int specialToken, const WhisperTokenizer& tokenizer) const
        = 0;

    // The segments with `words` filled (possibly empty) and their start and end adjusted to them.
    // `seek` is the window start in samples; `lastSpeechTimestamp` is in seconds.
    // Throws WhisperError (segmentingFailed) for weights without a shape.
    virtual std::vector<TranscriptionSegment> addWordTimestamps(std::vector<TranscriptionSegment> segments,
        const ml::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer, int seek, int segmentSize,
        std::string_view prependPunctuations, std::string_view appendPunctuations, float lastSpeechTimestamp,
        const DecodingOptions& options, const TranscriptionTimings& timings) const
        = 0;
};

} // namespace auris
