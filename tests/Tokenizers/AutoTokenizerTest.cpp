#include "Tokenizers/AutoTokenizer.hpp"

#include "Hub/LoopbackFixture.hpp"
#include "TokenizerFixtures.hpp"

using namespace tokenizers;
using hub::HubClientError;
using loopback::LoopbackHub;
using nlohmann::json;

namespace {

constexpr char repoId[] = "openai/whisper-tiny";

class FromPretrained : public LoopbackFixture {
protected:
    std::filesystem::path local() const { return downloadBase / "models" / "openai" / "whisper-tiny"; }
};

} // namespace

TEST_F(FromPretrained, BuildsTheRepositoryTokenizerAndKeepsItsFiles)
{
    fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder(repoId));
    const auto tokenizer = AutoTokenizer::fromPretrained(repoId, client());
    EXPECT_EQ(tokenizer->encode("Hello world"), (std::vector<int> {262, 267}));
    EXPECT_EQ(tokenizer->knownTokenId("<|startoftranscript|>"), 50258);
    // The files stay where the folder road finds them.
    EXPECT_EQ(AutoTokenizer::from(local())->encode(" the"), (std::vector<int> {258}));
}

TEST_F(FromPretrained, FailuresPassThrough)
{
    // No configuration and no compiled-in one for the model type.
    testsupport::writeFile(hub.repositoryFolder(repoId) / "config.json", R"({"model_type": "mistral"})");
    testsupport::writeFile(hub.repositoryFolder(repoId) / "tokenizer.json", fixtures::whisperTokenizerData().dump());
    EXPECT_EQ(caught<TokenizerError>([&] { AutoTokenizer::fromPretrained(repoId, client()); }).kind(),
        TokenizerError::Kind::missingConfig);

    // The builder's verdict on the repository's files.
    const testsupport::TemporaryDirectory base;
    testsupport::writeFile(hub.repositoryFolder(repoId) / "tokenizer_config.json",
        fixtures::whisperTokenizerConfig("Qwen2Tokenizer").dump());
    const hub::HubApi other(base.path(), std::nullopt, hub.endpoint());
    EXPECT_EQ(caught<TokenizerError>([&] { AutoTokenizer::fromPretrained(repoId, other); }).payload(), "Qwen2Tokenizer");

    // The hub client's errors, unchanged.
    hub.failWithStatus(LoopbackHub::listingPath("openai/whisper-gone"), 500);
    EXPECT_EQ(caught<HubClientError>([&] { AutoTokenizer::fromPretrained("openai/whisper-gone", client()); }).statusCode(), 500);
}
