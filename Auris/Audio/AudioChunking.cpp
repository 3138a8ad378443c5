#include "Auris/Audio/AudioChunking.hpp"

#include "Auris/Utilities/Logging.hpp"
#include "platform/system/ExceptionText.hpp"

#include <stdexcept>

namespace auris {

std::vector<TranscriptionResult> AudioChunking::updateSeekOffsetsForResults(
    const std::vector<ChunkTranscriptionOutcome>& chunkedResults, const std::vector<AudioChunk>& audioChunks) const
{
    if (chunkedResults.size() != audioChunks.size()) {
        throw std::invalid_argument("chunk outcomes and chunks differ in number");
    }
    std::vector<TranscriptionResult> updated;
    for (std::size_t i = 0; i < chunkedResults.size(); ++i) {
        if (const auto* error = std::get_if<std::exception_ptr>(&chunkedResults[i])) {
            Logging::debug("Error transcribing chunk " + std::to_string(i) + ": " + platform::exceptionText(*error));
            continue;
        }
        const float seekTime = static_cast<float>(audioChunks[i].seekOffsetIndex) / 16000.0f;
        for (TranscriptionResult result : std::get<std::vector<TranscriptionResult>>(chunkedResults[i])) {
            for (auto& segment : result.segments) {
                segment = updateSegmentTimings(segment, seekTime);
            }
            result.seekTime = seekTime;
            updated.push_back(std::move(result));
        }
    }
    return updated;
}

} // namespace auris
