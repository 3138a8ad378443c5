#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Hub/Repo.hpp"
#include "LoopbackFixture.hpp"
#include "platform/net/NetError.hpp"

#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using hub::Config;
using hub::HubClientError;
using loopback::LoopbackHub;
using hub::LanguageModelConfigurationFromHub;
using nlohmann::json;

namespace {

void writeFolder(const testsupport::TemporaryDirectory& folder, const json& modelConfig, const std::optional<json>& tokenizerConfig)
{
    testsupport::writeFile(folder / "config.json", modelConfig.dump());
    testsupport::writeFile(folder / "tokenizer.json", R"({"model": {"vocab": {}, "merges": []}})");
    if (tokenizerConfig) {
        testsupport::writeFile(folder / "tokenizer_config.json", tokenizerConfig->dump());
    }
}

} // namespace

TEST(LanguageModelConfigurationFromHub, ReadsTheThreeFiles)
{
    testsupport::TemporaryDirectory folder;
    writeFolder(folder, {{"model_type", "whisper"}, {"d_model", 384}}, json {{"tokenizer_class", "WhisperTokenizer"}, {"x", 1}});
    const LanguageModelConfigurationFromHub configuration(folder.path());
    EXPECT_EQ(configuration.modelType(), "whisper");
    EXPECT_EQ(configuration.modelConfig()["dModel"]->intValue(), 384);
    EXPECT_TRUE(configuration.tokenizerData()["model"]);
    // A class already named is kept, even though a fallback exists for the model type.
    const auto tokenizerConfig = configuration.tokenizerConfig();
    ASSERT_TRUE(tokenizerConfig);
    EXPECT_EQ((*tokenizerConfig)["tokenizerClass"]->stringValue(), "WhisperTokenizer");
    EXPECT_EQ((*tokenizerConfig)["x"]->intValue(), 1);
    EXPECT_FALSE((*tokenizerConfig)["unkToken"]);

    // Several callers may wait on the one load at once.
    const LanguageModelConfigurationFromHub fresh(folder.path());
    std::vector<std::thread> callers;
    std::atomic<int> answered = 0;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] { answered += fresh.tokenizerConfig().has_value() && fresh.modelType() == "whisper"; });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(answered, 4);
}

TEST(LanguageModelConfigurationFromHub, TokenizerConfigurationFallbacks)
{
    {
        // No file and no fallback for the model type: absent.
        testsupport::TemporaryDirectory folder;
        writeFolder(folder, {{"model_type", "mistral"}}, std::nullopt);
        EXPECT_FALSE(LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig());
    }
    {
        // No file: the fallback itself.
        testsupport::TemporaryDirectory folder;
        writeFolder(folder, {{"model_type", "whisper"}}, std::nullopt);
        const auto config = LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ((*config)["tokenizerClass"]->stringValue(), "WhisperTokenizer");
    }
    {
        // No class and no fallback: the class comes from the capitalised model type; other keys stay.
        testsupport::TemporaryDirectory folder;
        writeFolder(folder, {{"model_type", "mistral"}}, json {{"unk_token", "<unk>"}});
        const auto config = LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ((*config)["tokenizerClass"]->stringValue(), "MistralTokenizer");
        EXPECT_EQ((*config)["unkToken"]->stringValue(), "<unk>");
    }
    {
        // No class, a fallback: the fallback's values win, the file's other keys are added.
        testsupport::TemporaryDirectory folder;
        writeFolder(folder, {{"model_type", "gpt2"}}, json {{"unk_token", "<mine>"}, {"model_max_length", 77}});
        const auto config = LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ((*config)["tokenizerClass"]->stringValue(), "GPT2Tokenizer");
        EXPECT_EQ((*config)["unkToken"]->stringValue(), "<|endoftext|>");
        EXPECT_EQ((*config)["modelMaxLength"]->intValue(), 77);
    }
    {
        // No class and no model type: the file unchanged. A malformed file counts as none.
        testsupport::TemporaryDirectory folder;
        writeFolder(folder, {{"model_type", 5}}, json {{"a", 1}});
        const LanguageModelConfigurationFromHub configuration(folder.path());
        EXPECT_EQ(configuration.modelType(), std::nullopt);
        EXPECT_EQ(configuration.tokenizerConfig()->dictionary(), (json {{"a", 1}}));
        testsupport::writeFile(folder / "tokenizer_config.json", "[1, 2]");
        EXPECT_FALSE(LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig());
        testsupport::writeFile(folder / "tokenizer_config.json", "{oops");
        EXPECT_FALSE(LanguageModelConfigurationFromHub(folder.path()).tokenizerConfig());
    }
    EXPECT_TRUE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig("llama"));
    EXPECT_FALSE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig("unknown_kind"));
}

TEST(LanguageModelConfigurationFromHub, FailedLoadFailsEveryGetterEveryTime)
{
    testsupport::TemporaryDirectory folder;
    testsupport::writeFile(folder / "config.json", "[1, 2, 3]");
    testsupport::writeFile(folder / "tokenizer.json", "{}");
    const LanguageModelConfigurationFromHub arrayConfig(folder.path());
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            arrayConfig.modelConfig();
            FAIL();
        } catch (const hub::HubClientError& error) {
            EXPECT_EQ(error.kind(), hub::HubClientError::Kind::parse);
        }
        EXPECT_THROW(arrayConfig.tokenizerData(), hub::HubClientError);
        EXPECT_THROW(arrayConfig.tokenizerConfig(), hub::HubClientError);
    }

    testsupport::writeFile(folder / "config.json", "{}");
    testsupport::writeFile(folder / "tokenizer.json", "\"text\"");
    EXPECT_THROW(LanguageModelConfigurationFromHub(folder.path()).tokenizerData(), hub::HubClientError);

    // Hostile nesting is refused before it is parsed; brackets inside strings do not count.
    testsupport::writeFile(folder / "config.json", std::string(100000, '[') + std::string(100000, ']'));
    EXPECT_THROW(LanguageModelConfigurationFromHub(folder.path()).modelConfig(), std::runtime_error);
    testsupport::writeFile(folder / "config.json", R"({"model_type": ")" + std::string(1000, '[') + R"(\"{"})");
    testsupport::writeFile(folder / "tokenizer.json", "{}");
    EXPECT_EQ(LanguageModelConfigurationFromHub(folder.path()).modelType(), std::string(1000, '[') + "\"{");

    testsupport::TemporaryDirectory empty;
    const LanguageModelConfigurationFromHub missing(empty.path());
    EXPECT_THROW(missing.modelType(), std::runtime_error);
    EXPECT_THROW(missing.tokenizerData(), std::runtime_error);
}

namespace {

constexpr char repoId[] = "openai/whisper-tiny";

class HubRoad : public LoopbackFixture {
protected:
    void publishRepository(const json& modelConfig, const std::optional<json>& tokenizerConfig)
    {
        publish(repoId, "config.json", modelConfig.dump());
        publish(repoId, "tokenizer.json", R"({"model": {"type": "BPE"}})");
        publish(repoId, "README.md", "not fetched");
        if (tokenizerConfig) {
            publish(repoId, "tokenizer_config.json", tokenizerConfig->dump());
        }
    }

    std::filesystem::path local() const { return downloadBase / "models" / "openai" / "whisper-tiny"; }
};

} // namespace

TEST_F(HubRoad, FetchesTheThreeFilesThenReadsThemWithTheFallbacks)
{
    // A configuration naming no class gets the compiled-in one for the model type; the fallback wins.
    publishRepository({{"model_type", "whisper"}}, json {{"unk_token", "<mine>"}, {"model_max_length", 448}});
    const LanguageModelConfigurationFromHub configuration(repoId, client());
    const auto tokenizerConfig = configuration.tokenizerConfig();
    ASSERT_TRUE(tokenizerConfig);
    EXPECT_EQ((*tokenizerConfig)["tokenizerClass"]->stringValue(), "WhisperTokenizer");
    EXPECT_EQ((*tokenizerConfig)["unkToken"]->stringValue(), "<|endoftext|>");
    EXPECT_EQ((*tokenizerConfig)["modelMaxLength"]->intValue(), 448);
    EXPECT_EQ(configuration.modelType(), "whisper");
    EXPECT_EQ((*configuration.tokenizerData()["model"])["type"]->stringValue(), "BPE");
    // Only the three files, into the client's folder for the repository.
    EXPECT_EQ(filesBelow(local()), (std::vector<std::string> {"config.json", "tokenizer.json", "tokenizer_config.json"}));

    // Files already on disk are not fetched again; the listing still is.
    hub.clearRequests();
    EXPECT_TRUE(LanguageModelConfigurationFromHub(repoId, client()).tokenizerConfig());
    EXPECT_EQ(hub.requests().size(), 1u);
    EXPECT_EQ(requestsTo(LoopbackHub::listingPath(repoId)), 1u);
}

TEST_F(HubRoad, RepositoriesLackingFiles)
{
    {
        // No tokenizer configuration and a model type with a compiled-in one: that one.
        publishRepository({{"model_type", "whisper"}}, std::nullopt);
        const auto config = LanguageModelConfigurationFromHub(repoId, client()).tokenizerConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ((*config)["tokenizerClass"]->stringValue(), "WhisperTokenizer");
        EXPECT_FALSE(std::filesystem::exists(local() / "tokenizer_config.json"));
    }
    {
        // None and no compiled-in one: absent. A class named in the repository's file stays.
        const testsupport::TemporaryDirectory base;
        publishRepository({{"model_type", "mistral"}}, std::nullopt);
        const hub::HubApi other(base.path(), std::nullopt, hub.endpoint());
        EXPECT_FALSE(LanguageModelConfigurationFromHub(repoId, other).tokenizerConfig());
    }
    {
        // A repository without "config.json" fails every getter with the read error.
        const testsupport::TemporaryDirectory base;
        std::filesystem::remove(hub.repositoryFolder(repoId) / "config.json");
        const LanguageModelConfigurationFromHub configuration(repoId, hub::HubApi(base.path(), std::nullopt, hub.endpoint()));
        EXPECT_THROW(configuration.tokenizerData(), std::runtime_error);
        EXPECT_THROW(configuration.tokenizerConfig(), std::runtime_error);
    }
}

TEST_F(HubRoad, HubFailureIsStoredOnceAndRethrownByEveryGetter)
{
    publishRepository({{"model_type", "whisper"}}, std::nullopt);
    hub.failWithStatus(LoopbackHub::listingPath(repoId), 404);
    const LanguageModelConfigurationFromHub refused(repoId, client());
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(caught<HubClientError>([&] { refused.modelConfig(); }).kind(), HubClientError::Kind::authorizationRequired);
        EXPECT_THROW(refused.tokenizerConfig(), HubClientError);
        EXPECT_THROW(refused.tokenizerData(), HubClientError);
        EXPECT_THROW(refused.modelType(), HubClientError);
    }
    EXPECT_EQ(hub.requests().size(), 1u);

    // A failed file download ends the load with the status; what was fetched before stays.
    hub.clearFaults();
    hub.failWithStatus(LoopbackHub::filePath(repoId, "tokenizer.json"), 503);
    const LanguageModelConfigurationFromHub failing(repoId, client());
    EXPECT_EQ(caught<HubClientError>([&] { failing.tokenizerData(); }).statusCode(), 503);
    EXPECT_TRUE(std::filesystem::exists(local() / "config.json"));
    EXPECT_FALSE(std::filesystem::exists(local() / "tokenizer.json"));

    hub.stop();
    EXPECT_THROW(LanguageModelConfigurationFromHub(repoId, client()).modelConfig(), platform::NetError);
}
