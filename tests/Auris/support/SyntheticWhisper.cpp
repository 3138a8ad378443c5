#include "Auris/support/SyntheticWhisper.hpp"

#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/Text/WhisperTokenizerWrapper.hpp"
#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace testsupport {

SyntheticWhisper::SyntheticWhisper()
{
    const auto layout = fixtures::WhisperLayout::compact();
    shape_.melCount = 80;
    shape_.vocabularySize = layout.vocabularySize();
    shape_.width = 32;
    shape_.audioLayers = 1;
    shape_.audioHeads = 2;
    shape_.textLayers = 2;
    shape_.textHeads = 2;
    shape_.audioSamples = 480000;
    shape_.textContext = 448;
    shape_.cacheLength = 224;

    modelFolder_ = directory_ / "models";
    // Whisper's token table is also its output layer, and random weights make a poor writer. With
    // plain rows the 1501 timestamps together outweigh the best text token at every step, so the
    // timestamp rule lets it write nothing but timestamps; and each token's row is most like itself,
    // so it repeats whatever it wrote. Longer rows for the tokens before the timestamps and stronger
    // positions let text and timestamps take turns, as the window loop and word timing need.
    const int timeTokenBegin = layout.timeTokenBegin();
    const auto random = ml::randomWhisperWeights(2024);
    ml::WhisperModelSet::write(modelFolder_, shape_, ml::MultiArrayDataType::float16,
        [random, timeTokenBegin, width = shape_.width](const ml::TensorSpec& tensor) {
            auto values = random(tensor);
            if (tensor.name == "decoder.token_embedding.weight") {
                const auto textValues = std::min(
                    static_cast<std::size_t>(timeTokenBegin) * static_cast<std::size_t>(width), values.size());
                std::for_each(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(textValues),
                    [](float& value) { value *= 3; });
            } else if (tensor.name == "decoder.positional_embedding") {
                std::for_each(values.begin(), values.end(), [](float& value) { value *= 8; });
            }
            return values;
        });

    const auto tokenizerFolder = directory_ / "tokenizer";
    fixtures::writeWhisperTokenizerFolder(tokenizerFolder, layout);
    tokenizer_ = std::make_shared<auris::WhisperTokenizerWrapper>(tokenizers::AutoTokenizer::from(tokenizerFolder));
}

const SyntheticWhisper& SyntheticWhisper::shared()
{
    static const SyntheticWhisper models;
    return models;
}

SyntheticWhisper::Pipeline SyntheticWhisper::load() const
{
    Pipeline pipeline {std::make_shared<auris::FeatureExtractor>(), std::make_shared<auris::AudioEncoder>(),
        std::make_shared<auris::TextDecoder>(std::make_shared<InlineProgressQueue>())};
    const auto units = ml::ComputeUnits::cpuOnly;
    pipeline.featureExtractor->loadModel(modelFolder_ / ml::WhisperModelSet::melFolderName, units, false);
    pipeline.audioEncoder->loadModel(modelFolder_ / ml::WhisperModelSet::encoderFolderName, units, false);
    pipeline.textDecoder->loadModel(modelFolder_ / ml::WhisperModelSet::decoderFolderName, units, false);
    pipeline.textDecoder->setTokenizer(tokenizer_);
    pipeline.textDecoder->setIsModelMultilingual(true);
    return pipeline;
}

std::vector<float> generatedSoundscape(double seconds, std::uint32_t seed)
{
    constexpr int rate = 16000;
    std::vector<float> samples(static_cast<std::size_t>(std::lround(seconds * rate)), 0.0f);
    std::uint32_t state = seed;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    const double pitches[] = {180, 260, 440, 700, 1200};
    for (std::size_t start = 0; start < samples.size(); start += rate / 2) {
        const std::uint32_t choice = next() % 8;
        const float amplitude = 0.05f + 0.1f * static_cast<float>(next() % 5);
        const std::size_t end = std::min(samples.size(), start + rate / 2);
        for (std::size_t i = start; i < end; ++i) {
            if (choice < 5) {
                const double phase = 2 * std::numbers::pi * pitches[choice] * static_cast<double>(i) / rate;
                samples[i] = amplitude * static_cast<float>(std::sin(phase));
            } else if (choice < 7) {
                samples[i] = amplitude * (static_cast<float>(next() >> 8) / static_cast<float>(1u << 24) * 2 - 1);
            }
        }
    }
    return samples;
}

} // namespace testsupport
