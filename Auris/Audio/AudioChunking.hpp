#pragma once

#include "Auris/Core/DecodingOptions.hpp"
#include "Auris/Core/TranscriptionTypes.hpp"

#include <exception>
#include <optional>
#include <variant>
#include <vector>

namespace auris {

// One chunk's transcription outcome: its results, or the error that transcribing it threw.
using ChunkTranscriptionOutcome = std::variant<std::vector<TranscriptionResult>, std::exception_ptr>;

// Cuts long audio into pieces that are transcribed one by one.
class AudioChunking {
public:
    virtual ~AudioChunking() = default;

    // The audio cut into chunks of at most `maxChunkLength` samples, in order, within the options'
    // clip ranges. Throws WhisperError (audioProcessingFailed).
    virtual std::vector<AudioChunk> chunkAll(
        const std::vector<float>& audioArray, int maxChunkLength, const std::optional<DecodingOptions>& decodeOptions) = 0;

    // Every result of every successful chunk, shifted from the chunk's start to the whole audio's
    // timeline, in chunk order; a failed chunk is logged at debug level and left out. The outcomes
    // and chunks pair up by position; throws std::invalid_argument when their counts differ.
    std::vector<TranscriptionResult> updateSeekOffsetsForResults(
        const std::vector<ChunkTranscriptionOutcome>& chunkedResults, const std::vector<AudioChunk>& audioChunks) const;
};

} // namespace auris
