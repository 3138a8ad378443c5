#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ml {

// The dimensions of a Whisper-family model and of the arrays its model folders exchange.
struct WhisperShape {
    int melCount = 80;
    int vocabularySize = 51865;
    int width = 384;
    int audioLayers = 4;
    int audioHeads = 6;
    int textLayers = 4;
    int textHeads = 6;
    int audioSamples = 480000; // one window; the encoder sees ceil(audioSamples / 320) positions
    int textContext = 448; // rows of the decoder's positional table
    int cacheLength = 224; // positions of the key-value cache the engine passes
    // (text layer, head) pairs averaged into the alignment output; empty: every head of the upper
    // half of the text layers.
    std::vector<std::pair<int, int>> alignmentHeads;

    // "tiny", "base" or "small" (multilingual vocabulary); throws std::invalid_argument otherwise.
    static WhisperShape preset(const std::string& name);
    // The smallest model with the real multilingual vocabulary: width 64, one layer of two heads on
    // each side. The engine reads its widths as a "base" model. Tests use it for speed.
    static WhisperShape smallest();

    int melFrames() const { return audioSamples / 160; }
    int audioFrames() const { return (melFrames() + 1) / 2; }
    std::vector<std::pair<int, int>> effectiveAlignmentHeads() const;

    // Throws std::invalid_argument naming the first dimension that cannot make a model.
    void validate() const;
};

} // namespace ml
