#include "Auris/Engine/TokenizerLoading.hpp"
#include "Auris/Text/WhisperTokenizerWrapper.hpp"

#include "Auris/support/CapturedLog.hpp"
#include "Hub/LoopbackFixture.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"
#include "platform/net/NetError.hpp"
#include "support/ScopedEnvironment.hpp"

#include <cstdlib>
#include <sys/stat.h>
#include <fstream>
#include <sstream>

using namespace auris;
using hub::HubClientError;
using loopback::LoopbackHub;
using nlohmann::json;
using Lines = std::vector<std::string>;
using Ids = std::vector<int>;

namespace {

std::string contents(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class TokenizerLoading : public LoopbackFixture {
protected:
    void SetUp() override
    {
        LoopbackFixture::SetUp();
        endpoint.emplace(hub::HubApi::endpointVariable, hub.endpoint());
    }

    std::filesystem::path local(const std::string& repoId) const { return downloadBase / "models" / repoId; }

    // Works as the Whisper tokenizer of the fixtures, with its control tokens found.
    static void expectWhisperTokenizer(const std::shared_ptr<const WhisperTokenizer>& tokenizer)
    {
        ASSERT_TRUE(dynamic_cast<const WhisperTokenizerWrapper*>(tokenizer.get()));
        EXPECT_EQ(tokenizer->encode("Hello world"), (Ids {262, 267}));
        EXPECT_EQ(tokenizer->specialTokens().startOfTranscriptToken, 50258);
        EXPECT_EQ(tokenizer->specialTokens().noSpeechToken, 50362);
    }

    const Lines threeFiles {"config.json", "tokenizer.json", "tokenizer_config.json"};
    std::optional<testsupport::ScopedEnvironment> endpoint;
    testsupport::CapturedLog log {Logging::LogLevel::debug};
};

} // namespace

TEST_F(TokenizerLoading, FirstLoadFetchesFromTheHubAndLaterLoadsWorkOffline)
{
    fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder("openai/whisper-tiny"));
    expectWhisperTokenizer(loadTokenizer(ModelVariant::tiny, downloadBase));
    EXPECT_EQ(log.lines(), Lines {"Loading tokenizer from Hub"});
    EXPECT_EQ(filesBelow(local("openai/whisper-tiny")), threeFiles);

    hub.stop();
    expectWhisperTokenizer(loadTokenizer(ModelVariant::tiny, downloadBase));
    expectWhisperTokenizer(loadTokenizer(ModelVariant::tiny, hub::HubApi(downloadBase, std::nullopt, hub.endpoint())));
    EXPECT_EQ(log.lines(),
        (Lines {"Loading tokenizer from Hub", "Loading tokenizer from local folder", "Loading tokenizer from local folder"}));

    // Another size has no local copy, and without the hub the client's error reaches the caller.
    EXPECT_THROW(loadTokenizer(ModelVariant::largev3, downloadBase), platform::NetError);
    EXPECT_EQ(log.lines().back(), "Loading tokenizer from Hub");
    EXPECT_FALSE(std::filesystem::exists(local("openai/whisper-large-v3")));
}

TEST_F(TokenizerLoading, RejectedLocalCopyIsReplacedFromTheHubOnlyOnceTheHubAnswers)
{
    const std::string repoId = "openai/whisper-base";
    fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder(repoId));
    fixtures::writeWhisperTokenizerFolder(local(repoId));
    testsupport::writeFile(local(repoId) / "tokenizer_config.json", fixtures::whisperTokenizerConfig("Qwen2Tokenizer").dump());
    const Lines fallingBack {"Error loading local tokenizer: unsupportedTokenizer(\"Qwen2Tokenizer\")", "Loading tokenizer from Hub"};

    // The hub refuses: its error reaches the caller and the local copy is left as it was.
    hub.failWithStatus(LoopbackHub::listingPath(repoId), 500);
    const auto refused = caught<HubClientError>([&] { loadTokenizer(ModelVariant::base, downloadBase); });
    EXPECT_EQ(refused.statusCode(), 500);
    // The caller learns why the local copy was passed over, not only that the hub failed.
    EXPECT_EQ(std::string(refused.what()),
        "httpStatusCode(500) The local tokenizer in " + local(repoId).string() + " was not used: unsupportedTokenizer(\"Qwen2Tokenizer\")");
    EXPECT_EQ(log.lines(), fallingBack);
    EXPECT_EQ(filesBelow(local(repoId)), threeFiles);
    EXPECT_EQ(json::parse(contents(local(repoId) / "tokenizer_config.json"))["tokenizer_class"], "Qwen2Tokenizer");

    // The hub answers: its tokenizer is returned and its files take the rejected copy's place.
    hub.clearFaults();
    expectWhisperTokenizer(loadTokenizer(ModelVariant::base, downloadBase));
    EXPECT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(filesBelow(local(repoId)), threeFiles);
    EXPECT_EQ(contents(local(repoId) / "tokenizer_config.json"), contents(hub.repositoryFolder(repoId) / "tokenizer_config.json"));

    hub.stop();
    expectWhisperTokenizer(loadTokenizer(ModelVariant::base, downloadBase));
    EXPECT_EQ(log.lines().back(), "Loading tokenizer from local folder");
}

TEST_F(TokenizerLoading, LocalCopyWithoutUsableConfigurationGoesToTheHub)
{
    // The hub's repository has no tokenizer configuration: the model type's compiled-in one serves.
    const std::string repoId = "openai/whisper-small.en";
    fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder(repoId));
    std::filesystem::remove(hub.repositoryFolder(repoId) / "tokenizer_config.json");

    // A rejected local configuration file that the hub does not have goes with the refresh.
    testsupport::writeFile(local(repoId) / "config.json", R"({"model_type": "whisper"})");
    testsupport::writeFile(local(repoId) / "tokenizer.json", fixtures::whisperTokenizerData().dump());
    testsupport::writeFile(local(repoId) / "tokenizer_config.json", R"({"tokenizer_class": "Qwen2Tokenizer"})");
    expectWhisperTokenizer(loadTokenizer(ModelVariant::smallEn, downloadBase));
    EXPECT_EQ(filesBelow(local(repoId)), (Lines {"config.json", "tokenizer.json"}));

    // Locally a model type without a compiled-in configuration and no configuration file.
    testsupport::writeFile(local(repoId) / "config.json", R"({"model_type": "unheard_of"})");
    expectWhisperTokenizer(loadTokenizer(ModelVariant::smallEn, downloadBase));
    EXPECT_EQ(log.lines(),
        (Lines {"Error loading local tokenizer: unsupportedTokenizer(\"Qwen2Tokenizer\")", "Loading tokenizer from Hub",
            "Tokenizer configuration not found in local config", "Loading tokenizer from Hub"}));
    EXPECT_EQ(json::parse(contents(local(repoId) / "config.json"))["model_type"], "whisper");

    hub.stop();
    expectWhisperTokenizer(loadTokenizer(ModelVariant::smallEn, downloadBase));
    EXPECT_EQ(log.lines().back(), "Loading tokenizer from local folder");

    // A local file that does not parse is reported with the reader's message, in the log and in
    // the error of the hub that could not stand in.
    testsupport::writeFile(local(repoId) / "tokenizer.json", "{ not json");
    const std::string unreachable = caught<platform::NetError>([&] { loadTokenizer(ModelVariant::smallEn, downloadBase); }).what();
    EXPECT_TRUE(unreachable.starts_with("Could not connect to the server.")) << unreachable;
    EXPECT_NE(unreachable.find(" was not used: Cannot parse " + (local(repoId) / "tokenizer.json").string() + ": it is not valid JSON"),
        std::string::npos) << unreachable;
    const Lines lines = log.lines();
    EXPECT_TRUE(lines[lines.size() - 2].starts_with("Error loading local tokenizer: Cannot parse ")) << lines[lines.size() - 2];

    // Nor does one nested past the bound, or a FIFO in a file's place.
    testsupport::writeFile(local(repoId) / "tokenizer.json", std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_NE(std::string(caught<platform::NetError>([&] { loadTokenizer(ModelVariant::smallEn, downloadBase); }).what())
                  .find("nested more than 512 levels deep"),
        std::string::npos);
    std::filesystem::remove(local(repoId) / "tokenizer.json");
    ASSERT_EQ(::mkfifo((local(repoId) / "tokenizer.json").c_str(), 0600), 0);
    EXPECT_NE(std::string(caught<platform::NetError>([&] { loadTokenizer(ModelVariant::smallEn, downloadBase); }).what())
                  .find("tokenizer.json: not a regular file"),
        std::string::npos);
}
