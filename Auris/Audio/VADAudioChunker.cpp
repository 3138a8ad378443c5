#include "Auris/Audio/VADAudioChunker.hpp"

#include "Auris/Audio/AudioProcessing.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Auris/Utilities/TextFormatting.hpp"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace auris {

VADAudioChunker::VADAudioChunker(int windowPadding)
    : windowPadding_(windowPadding)
{
    if (windowPadding < 0) {
        throw std::invalid_argument("window padding cannot be negative");
    }
}

std::vector<AudioChunk> VADAudioChunker::chunkAll(
    const std::vector<float>& audioArray, int maxChunkLength, const std::optional<DecodingOptions>& decodeOptions)
{
    std::vector<AudioChunk> chunks;
    for (const auto& [start, end] : chunkRanges(audioArray, maxChunkLength, decodeOptions)) {
        chunks.push_back({start, std::vector<float>(audioArray.begin() + start, audioArray.begin() + end)});
    }
    return chunks;
}

std::vector<VADAudioChunker::ChunkRange> VADAudioChunker::chunkRanges(
    std::span<const float> audio, int maxChunkLength, const std::optional<DecodingOptions>& decodeOptions) const
{
    const auto count = static_cast<std::int64_t>(audio.size());
    if (maxChunkLength >= count) {
        return {ChunkRange {0, static_cast<int>(count)}};
    }
    if (maxChunkLength <= 0) {
        throw WhisperError::audioProcessingFailed("maxChunkLength must be positive");
    }
    if (count > INT_MAX) {
        throw WhisperError::audioProcessingFailed("Audio is too long to cut into chunks");
    }

    std::vector<ChunkRange> chunks;
    auto append = [&](std::int64_t start, std::int64_t end) {
        constexpr auto rate = static_cast<float>(AudioProcessing::sampleRate);
        Logging::debug("Found chunk from " + formatString("%.2f", static_cast<float>(start) / rate) + " to "
            + formatString("%.2f", static_cast<float>(end) / rate));
        chunks.push_back({static_cast<int>(start), static_cast<int>(end)});
    };
    // A stretch too short to be cut normally is still transcribed when someone speaks in it.
    auto appendIfVoiced = [&](std::int64_t start, std::int64_t end) {
        if (start >= end || !holdsVoice(audio.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)))) {
            return;
        }
        for (std::int64_t piece = start; piece < end; piece += maxChunkLength) {
            append(piece, std::min(end, piece + maxChunkLength));
        }
    };

    for (const auto& [clipStart, clipEndAsked] : resolveSeekClips(static_cast<int>(count), decodeOptions)) {
        // A range reaching past the audio ends with it.
        const std::int64_t clipEnd = std::min<std::int64_t>(clipEndAsked, count);
        if (clipStart >= clipEnd - windowPadding_) {
            if (clipStart >= 0 && clipStart < count) {
                appendIfVoiced(clipStart, clipEnd);
            }
            continue;
        }
        std::int64_t startIndex = clipStart;
        do {
            if (startIndex < 0 || startIndex >= count) {
                throw WhisperError::audioProcessingFailed("startIndex is outside the buffer size");
            }
            const std::int64_t endIndex = startIndex + maxChunkLength < clipEnd
                ? splitOnMiddleOfLongestSilence(audio, startIndex, std::min(count, startIndex + maxChunkLength))
                : clipEnd;
            if (endIndex <= startIndex) {
                break;
            }
            append(startIndex, endIndex);
            startIndex = endIndex;
        } while (startIndex < clipEnd - windowPadding_);
        appendIfVoiced(startIndex, clipEnd);
    }
    return chunks;
}

std::int64_t VADAudioChunker::splitOnMiddleOfLongestSilence(
    std::span<const float> audioArray, std::int64_t startIndex, std::int64_t endIndex) const
{
    // Only the second half is searched, so no chunk is shorter than half a window unless the audio ends.
    const std::int64_t midIndex = startIndex + (endIndex - startIndex) / 2;
    const std::vector<bool> voiced = vad_.voiceActivityFrames(
        audioArray.subspan(static_cast<std::size_t>(midIndex), static_cast<std::size_t>(endIndex - midIndex)));

    std::int64_t bestStart = 0;
    std::int64_t bestLength = 0;
    std::int64_t runStart = -1;
    for (std::size_t i = 0; i <= voiced.size(); ++i) {
        const auto frame = static_cast<std::int64_t>(i);
        if (i < voiced.size() && !voiced[i]) {
            if (runStart < 0) {
                runStart = frame;
            }
        } else if (runStart >= 0) {
            // Strictly longer only, so the earliest of equal runs wins.
            if (frame - runStart > bestLength) {
                bestStart = runStart;
                bestLength = frame - runStart;
            }
            runStart = -1;
        }
    }
    if (bestLength == 0) {
        return endIndex;
    }
    const std::int64_t cut = midIndex + (bestStart + bestLength / 2) * vad_.frameLengthSamples();
    // Only a window of a sample or two could put the cut at its start; it then runs to its end.
    return cut > startIndex ? cut : endIndex;
}

bool VADAudioChunker::holdsVoice(std::span<const float> samples) const
{
    const std::vector<bool> voiced = vad_.voiceActivityFrames(samples);
    return std::find(voiced.begin(), voiced.end(), true) != voiced.end();
}

} // namespace auris
