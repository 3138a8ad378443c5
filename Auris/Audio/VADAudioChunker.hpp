#pragma once

#include "Auris/Audio/AudioChunking.hpp"
#include "Auris/Audio/EnergyVAD.hpp"

#include <span>

namespace auris {

// Cuts audio longer than one chunk in the middle of the longest pause in the second half of each
// chunk-sized window. Stretches shorter than `windowPadding` (a range's tail after the last cut, or
// a short clip range) become chunks of their own only when they hold voice.
class VADAudioChunker : public AudioChunking {
public:
    explicit VADAudioChunker(int windowPadding = 16000);

    int windowPadding() const { return windowPadding_; }

    std::vector<AudioChunk> chunkAll(
        const std::vector<float>& audioArray, int maxChunkLength, const std::optional<DecodingOptions>& decodeOptions) override;

    // A chunk's samples of the whole audio, end excluded.
    struct ChunkRange {
        int startIndex = 0;
        int endIndex = 0;
        friend bool operator==(const ChunkRange&, const ChunkRange&) = default;
    };
    // Where chunkAll cuts, without copying the audio: long recordings are transcribed from views
    // of the one array that holds them.
    std::vector<ChunkRange> chunkRanges(
        std::span<const float> audio, int maxChunkLength, const std::optional<DecodingOptions>& decodeOptions) const;

private:
    // Where to end a chunk that starts at `startIndex` and may run to `endIndex`.
    std::int64_t splitOnMiddleOfLongestSilence(std::span<const float> audioArray, std::int64_t startIndex, std::int64_t endIndex) const;
    bool holdsVoice(std::span<const float> samples) const;

    int windowPadding_;
    EnergyVAD vad_;
};

} // namespace auris
