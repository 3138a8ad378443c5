#include "Auris/Engine/Auris.hpp"
#include "Hub/LoopbackFixture.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/compiler/WhisperModelSet.hpp"
#include "support/AudioFixtures.hpp"
#include "support/ScopedEnvironment.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "tools/make-model/WhisperCheckpoint.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace auris;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

namespace {

// Tiny's widths and vocabulary, so that the engine recognises it, with one layer each.
ml::WhisperShape tinyShape()
{
    ml::WhisperShape shape;
    shape.width = 384;
    shape.audioLayers = shape.textLayers = 1;
    shape.audioHeads = shape.textHeads = 6;
    shape.alignmentHeads = {{0, 2}, {0, 5}};
    return shape;
}

// Small and quick, where only downloading and compiling are looked at.
ml::WhisperShape quickShape()
{
    ml::WhisperShape shape;
    shape.width = 64;
    shape.vocabularySize = 2000;
    shape.audioLayers = shape.textLayers = 1;
    shape.audioHeads = shape.textHeads = 2;
    return shape;
}

std::vector<int> tokensOf(const std::vector<TranscriptionResult>& results)
{
    std::vector<int> tokens;
    for (const auto& result : results) {
        for (const auto& segment : result.segments) {
            tokens.insert(tokens.end(), segment.tokens.begin(), segment.tokens.end());
        }
    }
    return tokens;
}

} // namespace

// The engine's repository holds no folder for "tiny"; the hub holds tiny's original checkpoint
// with its tokenizer, as the public hub does.
class CheckpointEndToEnd : public LoopbackFixture {
protected:
    static constexpr const char* checkpointRepo = "openai/whisper-tiny";

    void SetUp() override
    {
        LoopbackFixture::SetUp();
        endpoint.emplace(hub::HubApi::endpointVariable, hub.endpoint());
        publish(Auris::defaultModelRepo, "openai_whisper-small/AudioEncoder.mlmodelc/model.json", "{}");
        fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder(checkpointRepo));
    }

    void publishCheckpoint(const ml::WhisperShape& shape)
    {
        ml::WhisperCheckpoint::write(hub.repositoryFolder(checkpointRepo), shape, "F16", ml::randomWhisperWeights(11));
    }

    AurisConfig config() const
    {
        return AurisConfig {.model = "tiny", .downloadBase = downloadBase, .tokenizerFolder = temporary / "tokenizers",
            .verbose = false, .load = true};
    }

    std::filesystem::path modelRepo() const { return downloadBase / "models" / Auris::defaultModelRepo; }
    std::filesystem::path compiled() const { return modelRepo() / "openai_whisper-tiny"; }
    std::filesystem::path checkpointFolder() const { return downloadBase / "models" / checkpointRepo; }

    std::string downloadFailure()
    {
        try {
            Auris::download("tiny", downloadBase);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "downloaded";
    }

    std::optional<testsupport::ScopedEnvironment> endpoint;
};

TEST_F(CheckpointEndToEnd, CompilesTheCheckpointThenWorksOfflineAndMatchesMakeModel)
{
    const auto speech = testsupport::speak("The quick brown fox jumps over the lazy dog.", temporary / "speech.wav");
    if (!speech) {
        GTEST_SKIP() << "espeak-ng is not available to generate speech";
    }
    publishCheckpoint(tinyShape());
    auto engine = std::make_unique<Auris>(config());
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(engine->modelVariant(), ModelVariant::tiny);
    EXPECT_EQ(engine->modelFolder(), compiled());
    const auto online = engine->transcribe(speech->string());
    ASSERT_EQ(online.size(), 1u);
    EXPECT_GE(online[0].timings.totalDecodingWindows, 1);
    // Only the finished folder is where the engine looks; the weights it came from are gone.
    EXPECT_EQ(filesBelow(modelRepo()), (Lines {"openai_whisper-tiny/AudioEncoder.mlmodelc/model.json",
                                           "openai_whisper-tiny/AudioEncoder.mlmodelc/weights/weight.bin",
                                           "openai_whisper-tiny/MelSpectrogram.mlmodelc/model.json",
                                           "openai_whisper-tiny/MelSpectrogram.mlmodelc/weights/weight.bin",
                                           "openai_whisper-tiny/TextDecoder.mlmodelc/model.json",
                                           "openai_whisper-tiny/TextDecoder.mlmodelc/weights/weight.bin"}));
    EXPECT_EQ(filesBelow(checkpointFolder()), (Lines {"config.json", "generation_config.json"}));
    const auto decoder = ml::ModelFolder::open(compiled() / Auris::textDecoderBundleName);
    EXPECT_EQ(decoder.parameters().at("alignmentHeads"), nlohmann::json::parse("[[0, 2], [0, 5]]"));

    // Again with the hub gone: the compiled folder serves as it is.
    engine.reset();
    hub.stop();
    Auris offline(config());
    EXPECT_EQ(offline.modelVariant(), ModelVariant::tiny);
    const auto again = offline.transcribe(speech->string());
    EXPECT_EQ(tokensOf(again), tokensOf(online));

    // make-model convert on the same checkpoint gives the same weights and the same transcription.
    const auto converted = temporary / "converted";
    const auto checkpoint = hub.repositoryFolder(checkpointRepo) / "model.safetensors";
    const std::string command = std::string(MAKE_MODEL_COMMAND) + " convert --checkpoint " + checkpoint.string()
        + " --output " + converted.string() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* bundle : {Auris::melBundleName, Auris::audioEncoderBundleName, Auris::textDecoderBundleName}) {
        EXPECT_EQ(testsupport::readFile(converted / bundle / "model.json"), testsupport::readFile(compiled() / bundle / "model.json"));
    }
    for (const char* bundle : {Auris::audioEncoderBundleName, Auris::textDecoderBundleName}) {
        EXPECT_EQ(testsupport::readFile(converted / bundle / "weights/weight.bin"),
            testsupport::readFile(compiled() / bundle / "weights/weight.bin"));
    }
    auto fromConverted = config();
    fromConverted.modelFolder = converted.string();
    Auris convertedEngine(fromConverted);
    EXPECT_EQ(tokensOf(convertedEngine.transcribe(speech->string())), tokensOf(online));
}

TEST_F(CheckpointEndToEnd, ProgressCoversTheBytesThenTheCompilation)
{
    publishCheckpoint(quickShape());
    // A repository that does not exist answers 404 like one without the folder.
    hub.failWithStatus(loopback::LoopbackHub::listingPath(Auris::defaultModelRepo), 404);
    std::vector<double> fractions;
    const auto folder = Auris::download("openai_whisper-tiny", downloadBase, false, Auris::defaultModelRepo,
        [&](const hub::Progress& progress) { fractions.push_back(progress.fractionCompleted()); });
    EXPECT_EQ(folder, compiled());
    ASSERT_FALSE(fractions.empty());
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    const double downloadShare = 0.9;
    EXPECT_TRUE(std::any_of(fractions.begin(), fractions.end(), [&](double f) { return f > 0 && f < downloadShare; }))
        << "the bar moves while the weights arrive";
    EXPECT_TRUE(std::any_of(fractions.begin(), fractions.end(), [&](double f) { return f > downloadShare && f < 1; }))
        << "compiling is a step of its own";

    // A folder already there is used with no request at all.
    hub.clearRequests();
    EXPECT_EQ(Auris::download("tiny", downloadBase), compiled());
    EXPECT_TRUE(hub.requests().empty());
}

TEST_F(CheckpointEndToEnd, CutDownloadsAndBrokenCheckpointsLeaveNothingHalfMade)
{
    publishCheckpoint(quickShape());
    const auto weightsPath = loopback::LoopbackHub::filePath(checkpointRepo, "model.safetensors");
    hub.dropConnectionAfter(weightsPath, 100000);
    EXPECT_NE(downloadFailure(), "downloaded");
    EXPECT_EQ(filesBelow(checkpointFolder()), (Lines {"config.json", "generation_config.json"}));
    EXPECT_EQ(filesBelow(modelRepo()), Lines {});
    hub.clearFaults();

    // A crashed run's leftovers do not stand in the way either.
    testsupport::writeFile(modelRepo() / ".openai_whisper-tiny.compiling/TextDecoder.mlmodelc/model.json", "{");
    EXPECT_EQ(downloadFailure(), "downloaded");
    EXPECT_TRUE(std::filesystem::exists(compiled() / Auris::textDecoderBundleName));
    EXPECT_FALSE(std::filesystem::exists(modelRepo() / ".openai_whisper-tiny.compiling"));
    std::filesystem::remove_all(downloadBase);

    const auto published = hub.repositoryFolder(checkpointRepo);
    const std::string good = testsupport::readFile(published / "model.safetensors");
    const auto local = (checkpointFolder() / "model.safetensors").string();
    auto failureWith = [&](const std::string& weights, const std::string& config) {
        testsupport::writeFile(published / "model.safetensors", weights);
        testsupport::writeFile(published / "config.json", config);
        const std::string failure = downloadFailure();
        EXPECT_EQ(filesBelow(modelRepo()), Lines {}) << failure;
        EXPECT_EQ(filesBelow(checkpointFolder()), Lines {}) << "the next run fetches the checkpoint anew";
        return failure;
    };
    const std::string config = ml::WhisperCheckpoint::hubConfig(quickShape()).dump();
    std::string truncatedHeader = good;
    truncatedHeader[5] = 0x10; // a header length of about a terabyte
    EXPECT_THAT(failureWith(truncatedHeader, config), HasSubstr(local + ": has a header of "));
    EXPECT_THAT(failureWith(good.substr(0, good.size() - 100), config),
        HasSubstr(local + ": tensor \"model.decoder.layer_norm.bias\" lies past the end of the file"));
    auto widened = ml::WhisperCheckpoint::hubConfig(quickShape());
    widened["d_model"] = 512;
    EXPECT_THAT(failureWith(good, widened.dump()), HasSubstr("\"d_model\" is 512, but tensor \"model.encoder.conv1.weight\""));
    auto shape = quickShape();
    shape.textLayers = 2;
    EXPECT_THAT(failureWith(good, ml::WhisperCheckpoint::hubConfig(shape).dump()),
        HasSubstr("holds 1 decoder layers (no tensors for \"decoder.layers.1\")"));
    std::filesystem::remove(published / "model.safetensors");
    EXPECT_THAT(downloadFailure(), HasSubstr("openai/whisper-tiny holds no safetensors checkpoint"));
    EXPECT_EQ(filesBelow(modelRepo()), Lines {});

    // Once the hub serves a sound checkpoint again, the next run starts clean and succeeds.
    testsupport::writeFile(published / "model.safetensors", good);
    testsupport::writeFile(published / "config.json", config);
    EXPECT_EQ(downloadFailure(), "downloaded");
}
