#include "Hub/Config.hpp"
#include "Hub/Repo.hpp"

#include <gtest/gtest.h>

using hub::Config;
using nlohmann::json;

TEST(Config, MemberLookupFallsBackToSnakeCase)
{
    Config config(json::parse(R"({"model_type": "whisper", "modelType2": 1, "added_tokens": [{"id": 1}, {"id": 2}],
        "both": 1, "tokenizer_class": "WhisperTokenizer", "eos_token_id": 7})"));
    EXPECT_EQ(config["modelType"]->stringValue(), "whisper");
    EXPECT_EQ(config["model_type"]->stringValue(), "whisper");
    EXPECT_EQ(config["tokenizerClass"]->stringValue(), "WhisperTokenizer");
    EXPECT_EQ(config["eosTokenID"]->intValue(), 7);
    ASSERT_TRUE(config["addedTokens"]->arrayValue());
    EXPECT_EQ((*config["addedTokens"]->arrayValue())[1]["id"]->intValue(), 2);
    EXPECT_FALSE(config["missing"]);
    EXPECT_FALSE(Config()["anything"]);

    Config both(json::parse(R"({"modelType": "asked", "model_type": "snake"})"));
    EXPECT_EQ(both["modelType"]->stringValue(), "asked");
}

TEST(Config, ValueReadersAreTypeStrict)
{
    Config config(json::parse(R"({"s": "5", "i": 5, "f": 5.0, "h": 5.5, "b": true, "n": null,
        "o": {"x": 1}, "ov": {"value": 3}, "e": [], "big": 99999999999})"));
    EXPECT_FALSE(config["s"]->intValue());
    EXPECT_EQ(config["s"]->stringValue(), "5");
    EXPECT_FALSE(config["i"]->stringValue());
    EXPECT_FALSE(config["i"]->boolValue());
    EXPECT_EQ(config["i"]->intValue(), 5);
    EXPECT_EQ(config["f"]->intValue(), 5);
    EXPECT_FALSE(config["h"]->intValue());
    EXPECT_FALSE(config["big"]->intValue());
    EXPECT_EQ(config["b"]->boolValue(), true);
    EXPECT_FALSE(config["b"]->intValue());

    ASSERT_TRUE(config["n"]);
    EXPECT_FALSE(config["n"]->stringValue());
    EXPECT_FALSE(config["n"]->intValue());
    EXPECT_FALSE(config["n"]->boolValue());

    ASSERT_TRUE(config["o"]);
    EXPECT_EQ(config["o"]->value(), nullptr);
    EXPECT_EQ(config["o"]->dictionary(), json::parse(R"({"x": 1})"));
    EXPECT_EQ(config["ov"]->intValue(), 3);
    EXPECT_EQ(config["e"]->arrayValue()->size(), 0u);
    EXPECT_FALSE(config["s"]->arrayValue());
    EXPECT_EQ(config["s"]->dictionary(), json::parse(R"({"value": "5"})"));

    EXPECT_FALSE(config["s"]->tokenValue());
    auto token = Config::token(50257, "<|endoftext|>").tokenValue();
    ASSERT_TRUE(token);
    EXPECT_EQ(token->first, 50257u);
}

TEST(Config, SnakeCaseForm)
{
    EXPECT_EQ(hub::camelToSnakeCase("addedTokens"), "added_tokens");
    EXPECT_EQ(hub::camelToSnakeCase("ModelType"), "model_type");
    EXPECT_EQ(hub::camelToSnakeCase("eosTokenID"), "eos_token_id");
    EXPECT_EQ(hub::camelToSnakeCase("handleChineseChars"), "handle_chinese_chars");
    EXPECT_EQ(hub::camelToSnakeCase("plain"), "plain");
    EXPECT_EQ(hub::camelToSnakeCase("ÉtatCivil"), "état_civil");
    EXPECT_EQ(hub::camelToSnakeCase(std::string("bad\xff") + "X"), std::string("bad\xff") + "_x");
}

TEST(Repo, RawValuesAreCaseSensitive)
{
    EXPECT_EQ(hub::repoTypeFromRawValue("datasets"), hub::RepoType::datasets);
    EXPECT_FALSE(hub::repoTypeFromRawValue("Datasets"));
    EXPECT_EQ(hub::rawValue(Hub::RepoType::spaces), "spaces");
    EXPECT_EQ(Hub::Repo("openai/whisper-base").type, Hub::RepoType::models);
    EXPECT_EQ(Hub::HubClientError::httpStatusCode(503).statusCode(), 503);
}
