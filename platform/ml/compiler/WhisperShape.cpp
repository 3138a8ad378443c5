#include "platform/ml/compiler/WhisperShape.hpp"

#include <stdexcept>

namespace ml {

WhisperShape WhisperShape::smallest()
{
    WhisperShape shape;
    shape.width = 64;
    shape.audioLayers = shape.textLayers = 1;
    shape.audioHeads = shape.textHeads = 2;
    return shape;
}

WhisperShape WhisperShape::preset(const std::string& name)
{
    WhisperShape shape;
    if (name == "tiny") {
        shape.width = 384;
        shape.audioLayers = shape.textLayers = 4;
        shape.audioHeads = shape.textHeads = 6;
    } else if (name == "base") {
        shape.width = 512;
        shape.audioLayers = shape.textLayers = 6;
        shape.audioHeads = shape.textHeads = 8;
    } else if (name == "small") {
        shape.width = 768;
        shape.audioLayers = shape.textLayers = 12;
        shape.audioHeads = shape.textHeads = 12;
    } else {
        throw std::invalid_argument("unknown preset \"" + name + "\" (tiny, base or small)");
    }
    return shape;
}

std::vector<std::pair<int, int>> WhisperShape::effectiveAlignmentHeads() const
{
    if (!alignmentHeads.empty()) {
        return alignmentHeads;
    }
    std::vector<std::pair<int, int>> heads;
    for (int layer = textLayers / 2; layer < textLayers; ++layer) {
        for (int head = 0; head < textHeads; ++head) {
            heads.emplace_back(layer, head);
        }
    }
    return heads;
}

void WhisperShape::validate() const
{
    auto require = [](bool condition, const char* what) {
        if (!condition) {
            throw std::invalid_argument(what);
        }
    };
    require(melCount >= 1 && melCount <= 512, "the mel band count must be 1 to 512");
    require(vocabularySize >= 1 && vocabularySize <= (1 << 22), "the vocabulary size must be 1 to 4194304");
    require(width >= 1 && width <= 16384, "the width must be 1 to 16384");
    require(audioLayers >= 0 && audioLayers <= 256 && textLayers >= 0 && textLayers <= 256, "layer counts must be 0 to 256");
    require(audioHeads >= 1 && width % audioHeads == 0, "the width must be a multiple of the audio head count");
    require(textHeads >= 1 && width % textHeads == 0, "the width must be a multiple of the text head count");
    require(audioSamples > 200 && audioSamples <= 16000 * 600, "the window must hold 201 to 9600000 samples");
    require(textContext >= 1 && textContext <= (1 << 16), "the text context must be 1 to 65536");
    require(cacheLength >= 1 && cacheLength <= textContext, "the cache length must be 1 to the text context");
    require(textLayers > 0 || alignmentHeads.empty(), "alignment heads need text layers");
    for (const auto& [layer, head] : alignmentHeads) {
        require(layer >= 0 && layer < textLayers && head >= 0 && head < textHeads, "an alignment head lies outside the model");
    }
}

} // namespace ml
