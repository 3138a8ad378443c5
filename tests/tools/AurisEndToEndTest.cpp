#include "Auris/Engine/Auris.hpp"
#include "Auris/support/CapturedLog.hpp"
#include "Hub/LoopbackFixture.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "support/AudioFixtures.hpp"
#include "tools/auris-transcribe/TranscribeCommand.hpp"
#include "tools/make-model/RandomWhisperWeights.hpp"
#include "support/ScopedEnvironment.hpp"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using namespace auris;
using Lines = std::vector<std::string>;

namespace {

std::size_t indexOf(const Lines& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

} // namespace

// A hub on loopback serving a synthetic model folder in the engine's repository and a
// Whisper-style tokenizer, and speech generated with espeak-ng.
class AurisEndToEnd : public LoopbackFixture {
protected:
    static constexpr const char* modelName = "openai_whisper-base";

    void SetUp() override
    {
        LoopbackFixture::SetUp();
        endpoint.emplace(hub::HubApi::endpointVariable, hub.endpoint());
        speech = testsupport::speak("The quick brown fox jumps over the lazy dog.", temporary / "speech.wav");
        if (!speech) {
            GTEST_SKIP() << "espeak-ng is not available to generate speech";
        }
        ml::WhisperModelSet::write(hub.repositoryFolder(Auris::defaultModelRepo) / modelName, ml::WhisperShape::smallest(),
            ml::MultiArrayDataType::float16, ml::randomWhisperWeights(7));
        fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder("openai/whisper-base"));
    }

    AurisConfig config() const
    {
        return AurisConfig {.model = modelName, .downloadBase = downloadBase, .tokenizerFolder = temporary / "tokenizers",
            .verbose = true, .logLevel = Logging::LogLevel::debug, .prewarm = true, .load = true, .download = true};
    }

    std::optional<testsupport::ScopedEnvironment> endpoint;
    std::optional<std::filesystem::path> speech;
};

TEST_F(AurisEndToEnd, FindsDownloadsLoadsAndTranscribesThenStartsOffline)
{
    std::optional<testsupport::CapturedLog> log(Logging::LogLevel::debug);
    auto engine = std::make_unique<Auris>(config());
    const Lines lines = log->lines();
    log.reset();

    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(engine->modelVariant(), ModelVariant::base);
    EXPECT_TRUE(engine->tokenizer());
    EXPECT_EQ(engine->modelFolder(), downloadBase / "models" / Auris::defaultModelRepo / modelName);
    EXPECT_TRUE(std::filesystem::exists(temporary / "tokenizers/models/openai/whisper-base/tokenizer.json"));
    // Downloaded, then prewarming and prewarmed, then loading and loaded.
    const std::string folder = engine->modelFolder()->string();
    const std::vector<std::size_t> order {indexOf(lines, "Downloading model openai_whisper-base..."),
        indexOf(lines, "Prewarming models..."), indexOf(lines, "Loading models from " + folder + " with prewarmMode: true"),
        indexOf(lines, "Loading models..."), indexOf(lines, "Loading models from " + folder + " with prewarmMode: false"),
        indexOf(lines, "Loaded models for whisper size: base")};
    EXPECT_LT(order.back(), lines.size());
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    const auto fromFile = engine->transcribe(speech->string());
    ASSERT_EQ(fromFile.size(), 1u);
    const auto& timings = fromFile[0].timings;
    EXPECT_GT(timings.inputAudioSeconds, 1.0);
    EXPECT_GT(timings.fullPipeline, 0);
    EXPECT_GE(timings.totalDecodingWindows, 1);
    EXPECT_GT(timings.totalDecodingLoops, 0);
    EXPECT_GT(timings.modelLoading, 0);
    EXPECT_GT(timings.audioLoading, 0);
    EXPECT_FALSE(fromFile[0].language.empty());
    for (const auto& segment : fromFile[0].segments) {
        EXPECT_LE(segment.start, segment.end);
        // Random weights may place text anywhere within the window it came from.
        EXPECT_LE(segment.end, static_cast<float>(segment.seek) / 16000 + 30.0f);
    }

    const auto fromArray = engine->transcribeFirst(testsupport::sine(220, 16000, 2 * 16000, 0.3f));
    ASSERT_TRUE(fromArray);
    EXPECT_DOUBLE_EQ(fromArray->timings.inputAudioSeconds, 2.0);

    // The same engine again, with the hub gone: the downloaded model and tokenizer serve.
    engine.reset();
    hub.stop();
    auto quiet = config();
    quiet.verbose = false;
    Auris offline(quiet);
    EXPECT_EQ(offline.modelState(), ModelState::loaded);
    EXPECT_EQ(offline.modelVariant(), ModelVariant::base);
    EXPECT_TRUE(offline.transcribeFirst(speech->string()));
}

TEST_F(AurisEndToEnd, HarnessWritesResultsWithTheWriters)
{
    const auto modelFolder = Auris::download(modelName, downloadBase);
    const auto tokenizers = temporary / "tokenizers";
    fixtures::writeWhisperTokenizerFolder(tokenizers / "models/openai/whisper-base");
    hub.stop();
    const auto outputDir = temporary / "out";
    std::filesystem::create_directories(outputDir);
    const Lines common {"--model-folder", modelFolder.string(), "--tokenizer-folder", tokenizers.string()};

    auto run = [&](Lines extra, std::string& out, std::string& err) {
        Lines arguments = common;
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::ostringstream outStream, errStream;
        const int status = runTranscribeCommand(arguments, outStream, errStream);
        out = outStream.str();
        err = errStream.str();
        return status;
    };
    std::string out, err;

    ASSERT_EQ(run({"--format", "json", "--output-dir", outputDir.string(), "--language", "en", "--verbose", speech->string()}, out, err), 0)
        << err;
    EXPECT_EQ(out, (outputDir / "speech.json").string() + "\n");
    const auto json = nlohmann::json::parse(testsupport::readFile(outputDir / "speech.json"));
    EXPECT_TRUE(json.contains("segments"));
    EXPECT_EQ(json.at("language"), "en");
    EXPECT_NE(err.find("real-time factor"), std::string::npos);
    EXPECT_NE(err.find("Decoding Full Loop:"), std::string::npos);

    ASSERT_EQ(run({"--format", "srt", "--output-dir", outputDir.string(), speech->string()}, out, err), 0) << err;
    EXPECT_TRUE(std::filesystem::exists(outputDir / "speech.srt"));

    // A missing file fails alone; the other is still transcribed to standard output.
    const auto missing = (temporary / "missing.wav").string();
    EXPECT_EQ(run({"--chunking", "none", missing, speech->string()}, out, err), 1);
    EXPECT_NE(err.find(missing), std::string::npos);
    EXPECT_NE(out.find("# " + speech->string() + "\n"), std::string::npos);

    for (const Lines& bad : {Lines {"--format", "doc", "x.wav"}, Lines {"--model", "tiny", "x.wav"},
             Lines {"--language", "xx", "x.wav"}, Lines {"--workers", "-1", "x.wav"}, Lines {}}) {
        EXPECT_EQ(run(bad, out, err), 2) << bad.size();
        EXPECT_NE(err.find("usage: auris-transcribe"), std::string::npos);
    }
}
