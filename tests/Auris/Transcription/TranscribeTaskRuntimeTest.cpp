#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Transcription/TranscribeFixtures.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace auris;
using namespace testsupport;
using ml::MultiArrayDataType;

namespace {

// A tiny stand-in for the speech models: the "mel" stage measures the loudness of each second of
// the window, the "encoder" passes it on, and the decoder writes one word per loud stretch
// (its word chosen by loudness) followed by the timestamp where the last stretch ends.
constexpr int seconds = 30;
constexpr float voicedLoudness = 0.02f;
constexpr int sequenceLength = 16;
constexpr int embedDim = 2;

class LoudnessProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        const auto audio = inputs.featureValue("audio")->toFloats();
        ml::MultiArray loudness({1, 1, 1, seconds}, MultiArrayDataType::float16);
        for (int s = 0; s < seconds; ++s) {
            double sum = 0;
            for (int i = s * 16000; i < (s + 1) * 16000; ++i) sum += audio[static_cast<std::size_t>(i)] * audio[static_cast<std::size_t>(i)];
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

class LoudStretchDecoderProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        const auto loudness = inputs.featureValue("encoder_output_embeds")->toFloats();
        std::vector<int> tokens;
        int lastEnd = 0;
        for (int s = 0; s < seconds;) {
            if (loudness[static_cast<std::size_t>(s)] <= voicedLoudness) {
                ++s;
                continue;
            }
            float loudest = 0;
            for (; s < seconds && loudness[static_cast<std::size_t>(s)] > voicedLoudness; ++s) {
                loudest = std::max(loudest, loudness[static_cast<std::size_t>(s)]);
            }
            tokens.push_back(ids::space);
            tokens.push_back(loudest < 0.15f ? ids::a : loudest < 0.3f ? ids::b : ids::c);
            lastEnd = s;
        }
        if (!tokens.empty()) tokens.push_back(timestamp(lastEnd));
        // The prompt's last token goes in at position 3; what comes out there is the first word.
        const int position = static_cast<int>(inputs.featureValue("cache_length")->value({0})) - 3;
        const int next = position >= 0 && position < static_cast<int>(tokens.size())
            ? tokens[static_cast<std::size_t>(position)]
            : ids::end;

        ml::MultiArray logits({1, 1, timestampVocabulary}, MultiArrayDataType::float32);
        logits.setLinear(static_cast<std::size_t>(next), 40);
        ml::DictionaryFeatureProvider outputs;
        outputs.set("logits", logits);
        outputs.set("key_cache_updates", ml::MultiArray({1, embedDim, 1, 1}, MultiArrayDataType::float16));
        outputs.set("value_cache_updates", ml::MultiArray({1, embedDim, 1, 1}, MultiArrayDataType::float16));
        return outputs;
    }
};

template<typename ProgramType>
std::filesystem::path writeModel(const TemporaryDirectory& dir, const std::string& folderName,
    const std::string& program, ml::ModelDescription description)
{
    ml::ProgramRegistry::shared().add(program, [](const ml::ProgramContext&) { return std::make_unique<ProgramType>(); });
    const auto folder = dir / folderName;
    ml::ModelFolderWriter(program, nlohmann::json::object(), std::move(description)).write(folder);
    return folder;
}

} // namespace

TEST(TranscribeTaskRuntime, SixtySecondsOfGeneratedAudioThroughLoadedModels)
{
    TemporaryDirectory dir;
    const std::vector<int> features {1, 1, 1, seconds};
    ml::ModelDescription mel;
    mel.inputs = {{"audio", MultiArrayDataType::float32, {480000}}};
    mel.outputs = {{"melspectrogram_features", MultiArrayDataType::float16, features}};
    ml::ModelDescription encoder;
    encoder.inputs = {{"melspectrogram_features", MultiArrayDataType::float16, features}};
    encoder.outputs = {{"encoder_output_embeds", MultiArrayDataType::float16, features}};
    ml::ModelDescription decoder;
    decoder.inputs = {{"input_ids", MultiArrayDataType::int32, {1}}, {"cache_length", MultiArrayDataType::int32, {1}},
        {"key_cache", MultiArrayDataType::float16, {1, embedDim, 1, sequenceLength}},
        {"value_cache", MultiArrayDataType::float16, {1, embedDim, 1, sequenceLength}},
        {"kv_cache_update_mask", MultiArrayDataType::int32, {1, sequenceLength}},
        {"encoder_output_embeds", MultiArrayDataType::float16, features},
        {"decoder_key_padding_mask", MultiArrayDataType::float16, {1, sequenceLength}}};
    decoder.outputs = {{"logits", MultiArrayDataType::float32, {1, 1, timestampVocabulary}},
        {"key_cache_updates", MultiArrayDataType::float16, {1, embedDim, 1, 1}},
        {"value_cache_updates", MultiArrayDataType::float16, {1, embedDim, 1, 1}}};

    auto featureExtractor = std::make_shared<FeatureExtractor>();
    featureExtractor->loadModel(writeModel<LoudnessProgram>(dir, "MelSpectrogram.mlmodelc", "test.loudness", mel),
        ml::ComputeUnits::cpuOnly, false);
    auto audioEncoder = std::make_shared<AudioEncoder>();
    audioEncoder->loadModel(writeModel<PassOnProgram>(dir, "AudioEncoder.mlmodelc", "test.passOn", encoder),
        ml::ComputeUnits::cpuOnly, false);
    auto textDecoder = std::make_shared<TextDecoder>(std::make_shared<InlineProgressQueue>());
    textDecoder->loadModel(writeModel<LoudStretchDecoderProgram>(dir, TextDecoder::modelFileName, "test.loudStretch", decoder),
        ml::ComputeUnits::cpuOnly, false);
    textDecoder->setTokenizer(makeSmallTokenizer());
    textDecoder->setIsModelMultilingual(true);

    TranscribeTask task(TranscriptionTimings {}, nullptr, audioEncoder, featureExtractor,
        std::make_shared<SegmentSeeker>(), textDecoder, textDecoder->tokenizer());

    std::vector<float> audio(60 * 16000, 0.0f);
    addTone(audio, 2, 4, 0.1f);
    addTone(audio, 10, 12, 0.3f);
    addTone(audio, 40, 41, 0.6f);
    addTone(audio, 55, 58, 0.1f);
    const auto result = task.runTranscription(audio);

    EXPECT_EQ(result.text, "a b c a");
    ASSERT_EQ(result.segments.size(), 2u);
    EXPECT_FLOAT_EQ(result.segments[0].start, 0);
    EXPECT_FLOAT_EQ(result.segments[0].end, 12);
    EXPECT_FLOAT_EQ(result.segments[1].start, 30);
    EXPECT_FLOAT_EQ(result.segments[1].end, 58);
    EXPECT_EQ(result.language, "en");
    EXPECT_EQ(result.timings.totalDecodingWindows, 2);
    EXPECT_EQ(result.timings.totalEncodingRuns, 2);
    EXPECT_EQ(task.progress()->completedUnitCount(), 960000);
}
