#include "Auris/Core/WhisperError.hpp"
#include "Auris/Engine/EngineFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"
#include "Hub/LoopbackFixture.hpp"
#include "platform/net/NetError.hpp"
#include "support/AudioFixtures.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace auris;
using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

std::string failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

bool holds(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST(AurisModels, LoadingWalksItsStatesAndDetectsTheModel)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    fixture.mel->engineState = [&] { return engine->modelState(); };
    CapturedLog log(Logging::LogLevel::debug);

    engine->prewarmModels();
    EXPECT_EQ(engine->modelState(), ModelState::prewarmed);
    EXPECT_FALSE(engine->tokenizer());
    EXPECT_EQ(engine->modelVariant(), ModelVariant::tiny);
    // Prewarming loads and lets go, so the decoder holds no model afterwards.
    EXPECT_FALSE(fixture.decoder->model());

    engine->loadModels();
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    const auto loads = fixture.mel->loads();
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_TRUE(loads[0].prewarm);
    EXPECT_EQ(loads[0].engineState, ModelState::prewarming);
    EXPECT_FALSE(loads[1].prewarm);
    EXPECT_EQ(loads[1].engineState, ModelState::loading);
    EXPECT_EQ(loads[1].path, fixture.dir.path() / "MelSpectrogram.mlmodelc");
    EXPECT_EQ(loads[1].units, ModelComputeOptions().melCompute);
    EXPECT_GT(engine->currentTimings().modelLoading, 0);

    // An unknown vocabulary falls back to base; the decoder now holds the loaded tokenizer.
    EXPECT_EQ(engine->modelVariant(), ModelVariant::base);
    EXPECT_TRUE(fixture.decoder->model());
    EXPECT_TRUE(fixture.decoder->prefillData());
    EXPECT_TRUE(fixture.decoder->isModelMultilingual());
    ASSERT_TRUE(engine->tokenizer());
    EXPECT_EQ(fixture.decoder->tokenizer(), engine->tokenizer());

    const Lines lines = log.lines();
    const Lines expected {"Loading models from " + fixture.dir.path().string() + " with prewarmMode: false",
        "Loading feature extractor", "Loaded feature extractor", "Loading text decoder", "Loaded text decoder",
        "Loading text decoder prefill data", "Loaded text decoder prefill data",
        "Unrecognized vocabulary size: " + std::to_string(timestampVocabulary) + ", defaulting to base variant",
        "Loading tokenizer for base", "Loaded tokenizer", "Loaded models for whisper size: base"};
    const auto start = std::find(lines.begin(), lines.end(), expected.front());
    ASSERT_NE(start, lines.end());
    // The encoder fake is no model wrapper, so it is passed over without a line.
    EXPECT_EQ(Lines(start, lines.end()), expected);

    engine->unloadModels();
    EXPECT_EQ(engine->modelState(), ModelState::unloaded);
    EXPECT_EQ(fixture.mel->unloads, 1);
    EXPECT_FALSE(fixture.decoder->model());
    EXPECT_TRUE(engine->tokenizer());
}

TEST(AurisModels, MissingPiecesStopTheLoad)
{
    {
        // Without a prefill bundle the load completes and no prefill model is installed.
        EngineFixture fixture(false);
        auto engine = fixture.engine();
        engine->loadModels();
        EXPECT_EQ(engine->modelState(), ModelState::loaded);
        EXPECT_FALSE(fixture.decoder->prefillData());
    }
    {
        // The first missing bundle in mel, encoder, decoder order is named; nothing is loaded.
        EngineFixture fixture;
        std::filesystem::remove_all(fixture.dir / "MelSpectrogram.mlmodelc");
        std::filesystem::remove_all(fixture.dir / "AudioEncoder.mlmodelc");
        auto engine = fixture.engine();
        EXPECT_EQ(failureOf([&] { engine->loadModels(); }),
            "Model file not found at " + (fixture.dir / "MelSpectrogram.mlmodelc").string());
        EXPECT_EQ(engine->modelState(), ModelState::loading);
        EXPECT_TRUE(fixture.mel->loads().empty());
    }
    {
        // Without an encoder width the size cannot be told.
        EngineFixture fixture;
        fixture.encoder->size.reset();
        auto engine = fixture.engine();
        EXPECT_EQ(failureOf([&] { engine->loadModels(); }), "Tokenizer is unavailable");
        EXPECT_EQ(fixture.tokenizerLoads, 0);
    }
    {
        // The tokenizer's own failure passes unchanged and leaves the state at loading.
        EngineFixture fixture;
        auto config = fixture.config();
        config.tokenizerLoader = [](ModelVariant, const std::optional<std::filesystem::path>&, bool)
            -> std::shared_ptr<const WhisperTokenizer> { throw std::runtime_error("no tokenizer today"); };
        Auris engine(config);
        EXPECT_EQ(failureOf([&] { engine.loadModels(); }), "no tokenizer today");
        EXPECT_EQ(engine.modelState(), ModelState::loading);
    }
}

TEST(AurisModels, VocabularySizeDecidesMultilingualAndVariant)
{
    for (const auto& [vocabulary, multilingual, variant] :
        {std::tuple {51864, false, ModelVariant::tinyEn}, std::tuple {51865, true, ModelVariant::tiny},
            std::tuple {51866, true, ModelVariant::largev3}}) {
        EngineFixture fixture;
        fixture.script->vocabulary = vocabulary;
        writeScriptedDecoder(fixture.dir, fixture.script);
        std::optional<std::filesystem::path> folderSeen;
        bool backgroundSeen = false;
        ModelVariant variantSeen = ModelVariant::large;
        auto config = fixture.config();
        config.tokenizerFolder = fixture.dir / "tokenizers";
        config.useBackgroundDownloadSession = true;
        config.tokenizerLoader = [&](ModelVariant v, const std::optional<std::filesystem::path>& folder, bool background) {
            variantSeen = v;
            folderSeen = folder;
            backgroundSeen = background;
            return makeSmallTokenizer();
        };
        Auris engine(config);
        engine.loadModels();
        EXPECT_EQ(fixture.decoder->isModelMultilingual(), multilingual) << vocabulary;
        EXPECT_EQ(engine.modelVariant(), variant) << vocabulary;
        EXPECT_EQ(variantSeen, variant);
        EXPECT_EQ(folderSeen, fixture.dir / "tokenizers");
        EXPECT_TRUE(backgroundSeen);
    }
}

TEST(AurisModels, CreationFollowsItsArguments)
{
    EngineFixture fixture;
    {
        // A given folder is used as it is, and with `load` absent the models load.
        auto config = fixture.config();
        config.load.reset();
        config.download = true;
        Auris engine(config);
        EXPECT_EQ(engine.modelFolder(), fixture.dir.path());
        EXPECT_EQ(engine.modelState(), ModelState::loaded);
    }
    {
        auto config = fixture.config();
        config.prewarm = true;
        config.load = false;
        Auris engine(config);
        EXPECT_EQ(engine.modelState(), ModelState::prewarmed);
        EXPECT_FALSE(engine.tokenizer());
        EXPECT_EQ(engine.modelVariant(), ModelVariant::tiny);
    }
    {
        auto config = fixture.config();
        config.modelFolder.reset();
        config.load = true;
        try {
            Auris engine(config);
            FAIL() << "nothing to load";
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), WhisperError::Kind::modelsUnavailable);
            EXPECT_STREQ(error.what(), "Model folder is not set.");
        }
    }
    {
        // No folder, no download, nothing to load: an idle engine.
        auto config = fixture.config();
        config.modelFolder.reset();
        Auris engine(config);
        EXPECT_FALSE(engine.modelFolder());
        EXPECT_EQ(engine.modelState(), ModelState::unloaded);
    }
    {
        // Not verbose: not even the model-name line is written, whatever the level.
        CapturedLog log(Logging::LogLevel::debug);
        auto config = fixture.config();
        config.load = true;
        config.logLevel = Logging::LogLevel::debug;
        Auris quiet(config);
        EXPECT_TRUE(log.lines().empty());

        config.verbose = true;
        Auris chatty(config);
        EXPECT_TRUE(holds(log.lines(), "Running on " + Auris::deviceName()));
        EXPECT_TRUE(holds(log.lines(), "Loading models..."));
    }
    {
        // Clearing stops live capture and starts fresh timings; the models stay.
        auto processor = std::make_shared<StoppableAudioProcessor>();
        auto config = fixture.config();
        config.audioProcessor = processor;
        config.load = true;
        auto engine = std::make_unique<Auris>(config);
        const auto file = fixture.dir / "short.wav";
        writeAudioFile(file, 16000, {sine(440, 16000, 32000)});
        engine->transcribe(file.string());
        EXPECT_GT(engine->currentTimings().audioLoading, 0);

        engine->clearState();
        EXPECT_EQ(processor->stops, 1);
        EXPECT_EQ(engine->currentTimings(), TranscriptionTimings());
        EXPECT_EQ(engine->modelState(), ModelState::loaded);
        engine.reset();
        EXPECT_EQ(processor->stops, 2);
    }
}

TEST(AurisModels, ModelFolderNamesFromFilePaths)
{
    const std::vector<std::string> files {"openai_whisper-base/AudioEncoder.mlmodelc/weights/weight.bin",
        "openai_whisper-large-v2/TextDecoder.mlmodelc/model.json", "openai_whisper-base/TextDecoder.mlmodelc/model.json",
        "openai_whisper-small.en/MelSpectrogram.mlmodelc/model.json", "config.json",
        "distil-whisper_distil-large-v3/AudioEncoder.mlmodelc/model.json",
        "openai_whisper-small_216MB/AudioEncoder.mlmodelc/model.json"};
    EXPECT_EQ(Auris::formatModelFiles(files), (Lines {"openai_whisper-base", "openai_whisper-small.en",
                                                  "distil-whisper_distil-large-v3", "openai_whisper-large-v2"}));
    EXPECT_TRUE(Auris::formatModelFiles({}).empty());
}

class ModelDownload : public LoopbackFixture {
protected:
    static constexpr const char* repoId = "aurislabs/auris-coreml";

    void SetUp() override
    {
        LoopbackFixture::SetUp();
        endpoint.emplace(hub::HubApi::endpointVariable, hub.endpoint());
        for (const char* file : {"openai_whisper-large-v3/AudioEncoder.mlmodelc/model.json",
                 "openai_whisper-large-v3/TextDecoder.mlmodelc/model.json",
                 "distil-whisper_distil-large-v3/AudioEncoder.mlmodelc/model.json", "openai_whisper-small/model.json",
                 "openai_whisper-small.en/model.json", "config.json"}) {
            publish(repoId, file, file);
        }
    }

    std::filesystem::path localRepo() const { return downloadBase / "models" / repoId; }

    std::optional<testsupport::ScopedEnvironment> endpoint;
};

TEST_F(ModelDownload, FindsOneFolderAndDownloadsOnlyIt)
{
    CapturedLog log(Logging::LogLevel::debug);
    double lastFraction = 0;
    const auto folder = Auris::download("large-v3", downloadBase, false, repoId,
        [&](const hub::Progress& progress) { lastFraction = progress.fractionCompleted(); });

    // Both large-v3 folders end in the name; the openai one is chosen and only it is fetched.
    EXPECT_EQ(folder, localRepo() / "openai_whisper-large-v3");
    EXPECT_EQ(filesBelow(localRepo()), (Lines {"openai_whisper-large-v3/AudioEncoder.mlmodelc/model.json",
                                           "openai_whisper-large-v3/TextDecoder.mlmodelc/model.json"}));
    EXPECT_DOUBLE_EQ(lastFraction, 1.0);
    const std::string repo = "Repo(id: \"aurislabs/auris-coreml\", type: models)";
    const Lines lines = log.lines();
    const Lines expected {"Searching for models matching \"*large-v3/*\" in " + repo,
        "Multiple models found matching \"*large-v3/*\"", "Searching for models matching \"*openai*large-v3/*\" in " + repo,
        "Downloading model openai_whisper-large-v3..."};
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 4), expected);

    // "small" needs a slash right after it, so "small.en" is not a candidate.
    EXPECT_EQ(Auris::download("small", downloadBase, false, repoId), localRepo() / "openai_whisper-small");
    EXPECT_TRUE(std::filesystem::exists(localRepo() / "openai_whisper-small/model.json"));
    EXPECT_FALSE(std::filesystem::exists(localRepo() / "openai_whisper-small.en"));

    EXPECT_EQ(Auris::fetchAvailableModels(repoId, {"*"}), (Lines {"openai_whisper-small", "openai_whisper-small.en",
                                                              "distil-whisper_distil-large-v3", "openai_whisper-large-v3"}));
}

TEST_F(ModelDownload, NoSingleFolderIsReportedAsSuch)
{
    EXPECT_EQ(failureOf([&] { Auris::download("medium", downloadBase, false, repoId); }),
        "No models found matching \"*medium/*\"");

    publish(repoId, "a-openai-base/model.json", "a");
    publish(repoId, "b-openai-base/model.json", "b");
    EXPECT_EQ(failureOf([&] { Auris::download("base", downloadBase, false, repoId); }),
        "Multiple models found matching \"*base/*\"");
    EXPECT_FALSE(std::filesystem::exists(localRepo()));

    // Creation wraps the search failure into its own message.
    try {
        Auris engine(AurisConfig {.model = "medium", .downloadBase = downloadBase, .verbose = false});
        FAIL() << "nothing to download";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::modelsUnavailable);
        EXPECT_STREQ(error.what(),
            "Model not found. Please check the model or repo name and try again.\nError: No models found matching \"*medium/*\"");
    }
}

TEST_F(ModelDownload, AFolderDownloadedBeforeServesWithoutTheHub)
{
    const auto folder = Auris::download("openai_whisper-small", downloadBase, false, repoId);
    hub.stop();

    EXPECT_EQ(Auris::download("openai_whisper-small", downloadBase, false, repoId), folder);
    // A folder never downloaded still needs the hub.
    EXPECT_THROW(Auris::download("large-v3", downloadBase, false, repoId), platform::NetError);
    EXPECT_EQ(failureOf([&] { Auris engine(AurisConfig {.model = "large-v3", .downloadBase = downloadBase, .verbose = false}); })
                  .rfind("Model not found. Please check the model or repo name and try again.\nError: ", 0),
        0u);
}
