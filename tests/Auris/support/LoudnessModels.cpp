#include "Auris/support/LoudnessModels.hpp"

#include <algorithm>
#include <cmath>

namespace testsupport::loudness {

using ml::MultiArrayDataType;

namespace {

const std::vector<int> features {1, 1, 1, seconds};

class SecondLoudnessProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        const auto audio = inputs.featureValue("audio")->toFloats();
        ml::MultiArray loudness({1, 1, 1, seconds}, MultiArrayDataType::float16);
        for (int s = 0; s < seconds; ++s) {
            double sum = 0;
            for (int i = s * 16000; i < (s + 1) * 16000; ++i) {
                sum += audio[static_cast<std::size_t>(i)] * audio[static_cast<std::size_t>(i)];
            }
            loudness.setLinear(static_cast<std::size_t>(s), std::sqrt(sum / 16000));
        }
        ml::DictionaryFeatureProvider outputs;
        outputs.set("melspectrogram_features", loudness);
        return outputs;
    }
};

class PassOnProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        ml::DictionaryFeatureProvider outputs;
        outputs.set("encoder_output_embeds", *inputs.featureValue("melspectrogram_features"));
        return outputs;
    }
};

} // namespace

std::vector<Stretch> stretches(const ml::FeatureProvider& decoderInputs)
{
    const auto loudness = decoderInputs.featureValue("encoder_output_embeds")->toFloats();
    std::vector<Stretch> found;
    for (int s = 0; s < seconds;) {
        if (loudness[static_cast<std::size_t>(s)] <= voiced) {
            ++s;
            continue;
        }
        Stretch stretch {s, s, 0};
        for (; s < seconds && loudness[static_cast<std::size_t>(s)] > voiced; ++s) {
            stretch.loudest = std::max(stretch.loudest, loudness[static_cast<std::size_t>(s)]);
        }
        stretch.end = s;
        found.push_back(stretch);
    }
    return found;
}

int wordFor(const Stretch& stretch)
{
    return stretch.loudest < 0.15f ? ids::a : stretch.loudest < 0.3f ? ids::b : ids::c;
}

ml::DictionaryFeatureProvider scriptedStep(const ml::FeatureProvider& decoderInputs, const std::vector<int>& tokens)
{
    // The prompt's last token goes in at position 3; what comes out there is the first scripted one.
    const int position = static_cast<int>(decoderInputs.featureValue("cache_length")->value({0})) - 3;
    const int next = position >= 0 && position < static_cast<int>(tokens.size())
        ? tokens[static_cast<std::size_t>(position)]
        : ids::end;

    ml::MultiArray logits({1, 1, vocabulary}, MultiArrayDataType::float32);
    logits.setLinear(static_cast<std::size_t>(next), 40);
    ml::DictionaryFeatureProvider outputs;
    outputs.set("logits", logits);
    outputs.set("key_cache_updates", ml::MultiArray({1, embedDim, 1, 1}, MultiArrayDataType::float16));
    outputs.set("value_cache_updates", ml::MultiArray({1, embedDim, 1, 1}, MultiArrayDataType::float16));
    return outputs;
}

void loadFrontEnd(const TemporaryDirectory& dir, auris::FeatureExtractor& featureExtractor, auris::AudioEncoder& audioEncoder)
{
    ml::ModelDescription mel;
    mel.inputs = {{"audio", MultiArrayDataType::float32, {480000}}};
    mel.outputs = {{"melspectrogram_features", MultiArrayDataType::float16, features}};
    ml::ModelDescription encoder;
    encoder.inputs = {{"melspectrogram_features", MultiArrayDataType::float16, features}};
    encoder.outputs = {{"encoder_output_embeds", MultiArrayDataType::float16, features}};
    featureExtractor.loadModel(writeModel<SecondLoudnessProgram>(dir, "MelSpectrogram.mlmodelc", "test.secondLoudness", mel),
        ml::ComputeUnits::cpuOnly, false);
    audioEncoder.loadModel(writeModel<PassOnProgram>(dir, "AudioEncoder.mlmodelc", "test.passOn", encoder),
        ml::ComputeUnits::cpuOnly, false);
}

ml::ModelDescription decoderDescription(int sequenceLength)
{
    ml::ModelDescription decoder;
    decoder.inputs = {{"input_ids", MultiArrayDataType::int32, {1}}, {"cache_length", MultiArrayDataType::int32, {1}},
        {"key_cache", MultiArrayDataType::float16, {1, embedDim, 1, sequenceLength}},
        {"value_cache", MultiArrayDataType::float16, {1, embedDim, 1, sequenceLength}},
        {"kv_cache_update_mask", MultiArrayDataType::int32, {1, sequenceLength}},
        {"encoder_output_embeds", MultiArrayDataType::float16, features},
        {"decoder_key_padding_mask", MultiArrayDataType::float16, {1, sequenceLength}}};
    decoder.outputs = {{"logits", MultiArrayDataType::float32, {1, 1, vocabulary}},
        {"key_cache_updates", MultiArrayDataType::float16, {1, embedDim, 1, 1}},
        {"value_cache_updates", MultiArrayDataType::float16, {1, embedDim, 1, 1}}};
    return decoder;
}

} // namespace testsupport::loudness
