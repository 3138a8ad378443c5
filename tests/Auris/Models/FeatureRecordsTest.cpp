#include "Auris/Core/WhisperError.hpp"
#include "Auris/Models/AudioEncoderFeatures.hpp"
#include "Auris/Models/MelSpectrogramFeatures.hpp"
#include "Auris/Models/TextDecoderCachePrefillFeatures.hpp"
#include "Auris/Models/TextDecoderFeatures.hpp"

#include <algorithm>
#include <gtest/gtest.h>

using namespace auris;
using ml::MultiArray;
using ml::MultiArrayDataType;

namespace {

MultiArray floats(std::vector<int> shape, float value)
{
    MultiArray array(std::move(shape), MultiArrayDataType::float32);
    array.fill(value);
    return array;
}

TextDecoderInput decoderInput()
{
    return TextDecoderInput(MultiArray({1}, MultiArrayDataType::int32), MultiArray({1}, MultiArrayDataType::int32),
        floats({1, 4, 1, 3}, 1), floats({1, 4, 1, 3}, 2), MultiArray({1, 3}, MultiArrayDataType::int32),
        floats({1, 4, 1, 2}, 3), floats({1, 3}, -10000));
}

} // namespace

TEST(FeatureRecords, InputsAnswerExactlyTheirOwnNames)
{
    const auto input = decoderInput();
    EXPECT_EQ(input.featureNames(),
        (std::vector<std::string> {"input_ids", "cache_length", "key_cache", "value_cache", "kv_cache_update_mask",
            "encoder_output_embeds", "decoder_key_padding_mask"}));
    for (const auto& name : input.featureNames()) {
        EXPECT_TRUE(input.featureValue(name)) << name;
    }
    auto keyCache = input.featureValue("key_cache");
    ASSERT_TRUE(keyCache);
    // The record hands out its own tensor, not a copy.
    EXPECT_EQ(keyCache->dataPointer(), input.key_cache.dataPointer());
    EXPECT_FALSE(input.featureValue("Key_Cache"));
    EXPECT_FALSE(input.featureValue("KEY_CACHE"));
    EXPECT_FALSE(input.featureValue("logits"));

    const TextDecoderCachePrefillInput prefill(ShapedArray<std::int32_t>({1}, {1}), ShapedArray<std::int32_t>({1}, {50259}));
    EXPECT_EQ(prefill.featureNames(), (std::vector<std::string> {"task", "language"}));
    EXPECT_EQ(prefill.language.dataType(), MultiArrayDataType::int32);
    EXPECT_EQ(prefill.featureValue("language")->value({0}), 50259);

    const MelSpectrogramInput mel(ShapedArray<float>({2, 2}, {1, 2, 3, 4}));
    EXPECT_EQ(mel.featureNames(), std::vector<std::string> {"audio"});
    EXPECT_EQ(mel.audio.shape(), (std::vector<int> {2, 2}));
    EXPECT_EQ(mel.audio.dataType(), MultiArrayDataType::float32);
    EXPECT_EQ(mel.audio.toFloats(), (std::vector<float> {1, 2, 3, 4}));
    EXPECT_FALSE(mel.featureValue("Audio"));

    const AudioEncoderInput encoder(floats({1, 2}, 0));
    EXPECT_EQ(encoder.featureNames(), std::vector<std::string> {"melspectrogram_features"});
    EXPECT_TRUE(encoder.featureValue("melspectrogram_features"));
    EXPECT_FALSE(encoder.featureValue("audio"));

    EXPECT_THROW(ShapedArray<float>({2, 2}, {1, 2, 3}), ml::MultiArrayError);
}

TEST(FeatureRecords, RequiredOutputsFailAndAlignmentIsOptional)
{
    ml::DictionaryFeatureProvider features;
    features.set("logits", floats({1, 1, 5}, 0.5f));
    features.set("key_cache_updates", floats({1, 4, 1, 1}, 0));
    features.set("value_cache_updates", floats({1, 4, 1, 1}, 0));
    const TextDecoderOutput withoutAlignment(features);
    EXPECT_EQ(withoutAlignment.logits().shape(), (std::vector<int> {1, 1, 5}));
    EXPECT_FALSE(withoutAlignment.alignment_heads_weights());
    EXPECT_FALSE(withoutAlignment.alignment_heads_weightsShapedArray());

    features.set("alignment_heads_weights", floats({2, 3}, 0.25f));
    const TextDecoderOutput withAlignment(features);
    ASSERT_TRUE(withAlignment.alignment_heads_weights());
    const auto shaped = withAlignment.alignment_heads_weightsShapedArray();
    ASSERT_TRUE(shaped);
    EXPECT_EQ(shaped->shape, (std::vector<int> {2, 3}));
    EXPECT_EQ(static_cast<float>(shaped->scalars.at(5)), 0.25f);
    EXPECT_EQ(withAlignment.logitsShapedArray().multiArray().dataType(), MultiArrayDataType::float16);

    const TextDecoderOutput empty(ml::DictionaryFeatureProvider {});
    try {
        empty.logits();
        FAIL() << "missing logits must fail";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::modelsUnavailable);
        EXPECT_NE(error.message().find("logits"), std::string::npos);
    }
    EXPECT_THROW(empty.value_cache_updates(), WhisperError);
    EXPECT_THROW(MelSpectrogramOutput(ml::DictionaryFeatureProvider {}).melspectrogram_features(), WhisperError);
    EXPECT_THROW(AudioEncoderOutput(std::shared_ptr<const ml::FeatureProvider> {}).encoder_output_embeds(), WhisperError);
    EXPECT_THROW(TextDecoderCachePrefillOutput(ml::DictionaryFeatureProvider {}).key_cache_prefill(), WhisperError);

    // The tensor initialiser keeps three outputs and drops the argmax.
    const TextDecoderOutput fromTensors(floats({1, 1, 5}, 0), floats({1}, 0), floats({1}, 0), floats({1}, 0));
    auto names = fromTensors.featureNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"key_cache_updates", "logits", "value_cache_updates"}));

    const TextDecoderCachePrefillOutput prefill(floats({1, 4, 1, 2}, 1), floats({1, 4, 1, 2}, 2));
    EXPECT_EQ(prefill.value_cache_prefill().toFloats().front(), 2.0f);
    EXPECT_EQ(prefill.key_cache_prefillShapedArray().shape, (std::vector<int> {1, 4, 1, 2}));
}
