#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Utilities/Signposts.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include "support/TemporaryDirectory.hpp"
#include "Auris/support/SignpostRecording.hpp"

#include <gtest/gtest.h>

using testsupport::SignpostRecording;
using namespace auris;
using ml::MultiArrayDataType;

namespace {

// Doubles its input into an output of the declared shape, or misbehaves as its parameters say.
class DoublingProgram : public ml::Program {
public:
    explicit DoublingProgram(const ml::ProgramContext& context)
        : parameters_(context.folder.parameters())
        , outputShape_(context.folder.description().outputs.at(0).shape)
    {
    }

    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        if (parameters_.value("fail", false)) {
            throw ml::ModelError("prediction failed");
        }
        ml::DictionaryFeatureProvider outputs;
        if (parameters_.value("omitOutput", false)) {
            return outputs;
        }
        const auto input = inputs.featureValue(parameters_.at("input").get<std::string>())->toFloats();
        ml::MultiArray output(outputShape_, MultiArrayDataType::float16);
        for (std::size_t i = 0; i < output.count(); ++i) {
            output.setLinear(i, 2 * input[i % input.size()]);
        }
        outputs.set(parameters_.at("output").get<std::string>(), output);
        return outputs;
    }

private:
    nlohmann::json parameters_;
    std::vector<int> outputShape_;
};

std::filesystem::path writeModel(const testsupport::TemporaryDirectory& dir, const std::string& folderName,
    const std::string& input, const std::string& output, std::vector<int> outputShape, nlohmann::json extra = {})
{
    ml::ProgramRegistry::shared().add(
        "test.doubling", [](const ml::ProgramContext& context) { return std::make_unique<DoublingProgram>(context); });
    ml::ModelDescription description;
    description.inputs.push_back({input, MultiArrayDataType::float32, {4}});
    description.outputs.push_back({output, MultiArrayDataType::float16, std::move(outputShape)});
    nlohmann::json parameters = {{"input", input}, {"output", output}};
    if (extra.is_object()) parameters.update(extra);
    ml::ModelFolderWriter writer("test.doubling", parameters, description);
    const auto folder = dir / folderName;
    writer.write(folder);
    return folder;
}

ml::MultiArray samples() { return ml::MultiArray::fromValues<float>({4}, std::vector<float> {1, 2, 3, 4}); }

} // namespace

TEST(FeatureExtractor, RunsTheMelModelAndReadsItsShape)
{
    testsupport::TemporaryDirectory dir;
    FeatureExtractor extractor;
    EXPECT_FALSE(extractor.melCount());
    EXPECT_THROW(extractor.logMelSpectrogram(samples()), WhisperError);

    extractor.loadModel(writeModel(dir, "MelSpectrogram.mlmodelc", "audio", "melspectrogram_features", {1, 80, 1, 3}),
        ml::ComputeUnits::cpuAndGPU, false);
    EXPECT_EQ(extractor.melCount(), 80);

    SignpostRecording signposts(featureExtractorSignposter());
    const auto mel = extractor.logMelSpectrogram(samples());
    ASSERT_TRUE(mel);
    EXPECT_EQ(mel->shape(), (std::vector<int> {1, 80, 1, 3}));
    EXPECT_EQ((*mel)[0], 2.0);
    EXPECT_EQ((*mel)[3], 8.0);
    EXPECT_EQ(signposts.names(), (std::vector<std::string> {"begin ExtractAudioFeatures", "end ExtractAudioFeatures"}));

    // A cancelled caller gets the cancellation error before any interval begins.
    std::stop_source stop;
    stop.request_stop();
    featureExtractorSignposter().clear();
    EXPECT_THROW(extractor.logMelSpectrogram(samples(), stop.get_token()), CancellationError);
    EXPECT_TRUE(signposts.names().empty());

    // Wrong inputs fail in the model, and the interval is still closed.
    EXPECT_THROW(extractor.logMelSpectrogram(ml::MultiArray({3}, MultiArrayDataType::float32)), ml::ModelError);
    EXPECT_EQ(featureExtractorSignposter().openIntervalCount(), 0);
}

TEST(AudioEncoder, RunsTheEncoderAndReportsBrokenModels)
{
    testsupport::TemporaryDirectory dir;
    AudioEncoder encoder;
    EXPECT_FALSE(encoder.embedSize());
    EXPECT_FALSE(encoder.sequenceLength());
    EXPECT_THROW(encoder.encodeFeatures(samples()), WhisperError);

    encoder.loadModel(writeModel(dir, "AudioEncoder.mlmodelc", "melspectrogram_features", "encoder_output_embeds",
                          {1, 1280, 1, 1500}),
        ml::ComputeUnits::cpuAndNeuralEngine, false);
    EXPECT_EQ(encoder.embedSize(), 1280);
    EXPECT_EQ(encoder.sequenceLength(), 1500);
    const auto embeds = encoder.encodeFeatures(samples());
    ASSERT_TRUE(embeds);
    EXPECT_EQ(embeds->dataType(), MultiArrayDataType::float16);
    EXPECT_EQ((*embeds)[5], 4.0);

    // A declared shape too short for the dimension read gives no value.
    encoder.loadModel(writeModel(dir, "Short.mlmodelc", "melspectrogram_features", "encoder_output_embeds", {1, 8}),
        ml::ComputeUnits::cpuOnly, false);
    EXPECT_EQ(encoder.embedSize(), 8);
    EXPECT_FALSE(encoder.sequenceLength());

    // A model that returns no embeddings does not fit the engine.
    encoder.loadModel(writeModel(dir, "Empty.mlmodelc", "melspectrogram_features", "encoder_output_embeds", {1, 8},
                          {{"omitOutput", true}}),
        ml::ComputeUnits::cpuOnly, false);
    SignpostRecording signposts(audioEncodingSignposter());
    try {
        encoder.encodeFeatures(samples());
        FAIL() << "a missing output must fail";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::modelsUnavailable);
    }
    EXPECT_EQ(signposts.names(), (std::vector<std::string> {"begin EncodeAudio", "end EncodeAudio"}));

    // Prediction errors pass through unchanged.
    encoder.loadModel(writeModel(dir, "Failing.mlmodelc", "melspectrogram_features", "encoder_output_embeds", {1, 8},
                          {{"fail", true}}),
        ml::ComputeUnits::cpuOnly, false);
    EXPECT_THROW(encoder.encodeFeatures(samples()), ml::ModelError);
    EXPECT_EQ(audioEncodingSignposter().openIntervalCount(), 0);
}
