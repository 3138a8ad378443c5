#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Hub/Repo.hpp"

#include "LoopbackFixture.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using hub::Config;
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

class LanguageModelConfigurationFromRepository : public LoopbackFixture {};

TEST_F(LanguageModelConfigurationFromRepository, FetchesOnlyTheThreeFilesIntoTheDownloadFolder)
{
    publish("org/tiny", "config.json", R"({"model_type": "whisper"})");
    publish("org/tiny", "tokenizer.json", R"({"model": {"vocab": {}, "merges": []}})");
    publish("org/tiny", "weights.bin", "not wanted");
    const LanguageModelConfigurationFromHub configuration(std::string("org/tiny"), client());
    EXPECT_EQ(configuration.modelType(), "whisper");
    EXPECT_TRUE(configuration.tokenizerData()["model"]);
    // No tokenizer configuration in the repository: the model type's fallback stands in.
    ASSERT_TRUE(configuration.tokenizerConfig());
    EXPECT_EQ(filesBelow(client().localRepoLocation(hub::Repo("org/tiny"))), (std::vector<std::string> {"config.json", "tokenizer.json"}));

    const LanguageModelConfigurationFromHub absent(std::string("org/absent"), client());
    EXPECT_ANY_THROW(absent.modelConfig());
    EXPECT_ANY_THROW(absent.tokenizerData());
}
