#include "Generation/Generation.hpp"
#include "Tokenizers/AutoTokenizer.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace generation;
using Ids = std::vector<int>;
using nlohmann::json;

namespace {

// Word ids: [UNK] 0, end 1, hello 2, big 3, world 4, again 5. Decoding joins the words without blanks.
std::shared_ptr<tokenizers::Tokenizer> wordTokenizer()
{
    const json vocab = {{"[UNK]", 0}, {"end", 1}, {"hello", 2}, {"big", 3}, {"world", 4}, {"again", 5}};
    return tokenizers::AutoTokenizer::from(
        hub::Config(json {{"tokenizer_class", "BertTokenizer"}}), hub::Config(json {{"model", {{"vocab", vocab}}}}));
}

ml::MultiArray scores(const std::vector<float>& values)
{
    return ml::MultiArray::fromValues<float>({static_cast<int>(values.size())}, values);
}

// Answers with a one-hot score for each scripted id in turn and records what it was asked.
struct ScriptedModel {
    std::vector<int> script;
    int vocabularySize = 6;
    std::vector<Ids> calls;

    NextTokenModel callable()
    {
        return [this](const Ids& tokens, const GenerationConfig&) {
            const int next = script.at(calls.size());
            calls.push_back(tokens);
            std::vector<float> values(static_cast<std::size_t>(vocabularySize), -1.0f);
            values[static_cast<std::size_t>(next)] = 5.0f;
            return scores(values);
        };
    }
};

// A uniform source that answers each draw with the given fraction of its range.
tensorutils::RandomSource fractions(std::vector<double> values)
{
    auto index = std::make_shared<std::size_t>(0);
    return [values = std::move(values), index](std::uint32_t) {
        return static_cast<std::uint32_t>(values.at((*index)++) * 4294967296.0);
    };
}

GenerationConfig greedyConfig(int maxLength, std::optional<int> eos = std::nullopt)
{
    GenerationConfig config(0);
    config.maxLength = maxLength;
    config.eosTokenId = eos;
    return config;
}

} // namespace

TEST(GenerationConfig, ModeFollowsTheSettings)
{
    GenerationConfig config(30);
    EXPECT_EQ(config.generationMode(), GenerationMode::greedy);
    config.penaltyAlpha = 0.6;
    EXPECT_EQ(config.generationMode(), GenerationMode::contrastiveSearch);
    config.penaltyAlpha = 0.0;
    EXPECT_EQ(config.generationMode(), GenerationMode::greedy);

    GenerationConfig sampling(30);
    sampling.doSample = true;
    EXPECT_EQ(sampling.generationMode(), GenerationMode::sample);
    sampling.numBeams = 2;
    EXPECT_EQ(sampling.generationMode(), GenerationMode::unsupported);
    sampling.numBeamGroups = 2;
    EXPECT_EQ(sampling.generationMode(), GenerationMode::groupBeam);
    sampling.doSample = false;
    sampling.numBeamGroups = 1;
    EXPECT_EQ(sampling.generationMode(), GenerationMode::beam);
    sampling.numBeams = 0;
    EXPECT_EQ(sampling.generationMode(), GenerationMode::unsupported);
}

TEST(GenerationConfig, DecodesJsonWithEveryRequiredKey)
{
    const json full = {{"maxLength", 40}, {"maxNewTokens", 10}, {"doSample", true}, {"numBeams", 1}, {"numBeamGroups", 1},
        {"penaltyAlpha", nullptr}, {"temperature", 0.7}, {"topK", 5}, {"topP", 1}, {"repetitionPenalty", 1.1},
        {"eosTokenId", 2}};
    const auto config = GenerationConfig::fromJson(full);
    EXPECT_EQ(config.maxLength, 40);
    EXPECT_EQ(config.maxNewTokens, 10);
    EXPECT_EQ(config.penaltyAlpha, std::nullopt);
    EXPECT_EQ(config.topP, 1.0);
    EXPECT_EQ(config.eosTokenId, 2);
    EXPECT_EQ(config.padTokenId, std::nullopt);

    const auto changed = [&](const char* key, std::optional<json> value) {
        json copy = full;
        copy.erase(key);
        if (value) {
            copy[key] = *value;
        }
        return copy;
    };
    // Required whatever its default; never under its snake-case name; integers must be whole and in range.
    EXPECT_THROW(GenerationConfig::fromJson(changed("topP", std::nullopt)), std::invalid_argument);
    EXPECT_THROW(GenerationConfig::fromJson(changed("maxLength", nullptr)), std::invalid_argument);
    json snake = changed("maxLength", std::nullopt);
    snake["max_length"] = 40;
    EXPECT_THROW(GenerationConfig::fromJson(snake), std::invalid_argument);
    EXPECT_THROW(GenerationConfig::fromJson(changed("topK", 5.5)), std::invalid_argument);
    EXPECT_THROW(GenerationConfig::fromJson(changed("maxLength", 1LL << 40)), std::invalid_argument);
    EXPECT_THROW(GenerationConfig::fromJson(changed("doSample", 1)), std::invalid_argument);
    EXPECT_EQ(GenerationConfig::fromJson(changed("eosTokenId", std::nullopt)).eosTokenId, std::nullopt);
}

TEST(Generation, GreedySearchAppendsTheBestIdUntilTheLimitOrTheEndToken)
{
    const Generation generation;
    ScriptedModel model {{3, 4, 5, 2}};
    std::vector<Ids> seen;
    const Ids output = generation.greedySearch(greedyConfig(5), {2, 2}, model.callable(), [&](const Ids& ids) { seen.push_back(ids); });
    EXPECT_EQ(output, (Ids {2, 2, 3, 4, 5}));
    EXPECT_EQ(seen, (std::vector<Ids> {{2, 2, 3}, {2, 2, 3, 4}, {2, 2, 3, 4, 5}}));
    EXPECT_EQ(model.calls, (std::vector<Ids> {{2, 2}, {2, 2, 3}, {2, 2, 3, 4}}));

    // The end token stops the loop and is not appended.
    ScriptedModel ending {{3, 1, 4}};
    EXPECT_EQ(generation.greedySearch(greedyConfig(10, 1), {2}, ending.callable()), (Ids {2, 3}));
    ScriptedModel immediately {{1}};
    bool called = false;
    EXPECT_EQ(generation.greedySearch(greedyConfig(10, 1), {2}, immediately.callable(), [&](const Ids&) { called = true; }),
        (Ids {2}));
    EXPECT_FALSE(called);

    // Already at the limit: no model call.
    ScriptedModel unused {{}};
    EXPECT_EQ(generation.greedySearch(greedyConfig(2), {2, 3, 4}, unused.callable()), (Ids {2, 3, 4}));
    EXPECT_TRUE(unused.calls.empty());

    // Equal best scores pick the first.
    const NextTokenModel flat = [](const Ids&, const GenerationConfig&) { return scores({0, 2, 2, 1}); };
    EXPECT_EQ(generation.greedySearch(greedyConfig(2), {0}, flat), (Ids {0, 1}));
    const NextTokenModel empty = [](const Ids&, const GenerationConfig&) { return ml::MultiArray({0}, ml::MultiArrayDataType::float32); };
    EXPECT_THROW(generation.greedySearch(greedyConfig(2), {0}, empty), std::invalid_argument);
}

TEST(Generation, SamplingDrawsFromTheWarpedDistribution)
{
    // Probabilities 0.1, 0.2, 0.3, 0.4 for ids 0 to 3.
    const std::vector<float> logits {std::log(0.1f), std::log(0.2f), std::log(0.3f), std::log(0.4f)};
    std::vector<Ids> asked;
    const NextTokenModel model = [&](const Ids& tokens, const GenerationConfig&) {
        asked.push_back(tokens);
        return scores(logits);
    };
    GenerationConfig plain(0);
    plain.doSample = true;
    plain.maxLength = 4;
    plain.topK = 0;
    plain.temperature = 0; // no temperature warper rather than a division by zero
    Generation generation;
    generation.randomSource = fractions({0.05, 0.25, 0.95});
    std::vector<Ids> seen;
    EXPECT_EQ(generation.sample(plain, {9}, model, [&](const Ids& ids) { seen.push_back(ids); }), (Ids {9, 0, 1, 3}));
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(asked.back(), (Ids {9, 0, 1}));

    // Top-K keeps the two best, best first: ids 3 (4/7) and 2 (3/7).
    GenerationConfig topTwo = plain;
    topTwo.topK = 2;
    topTwo.maxLength = 2;
    generation.randomSource = fractions({0.25, 0.6});
    EXPECT_EQ(generation.sample(topTwo, {}, model), (Ids {3, 2}));

    // A low temperature sharpens the distribution: half the range, id 2 before, now falls on the best id.
    GenerationConfig cold = plain;
    cold.temperature = 0.1;
    cold.maxLength = 1;
    generation.randomSource = fractions({0.5});
    EXPECT_EQ(generation.sample(cold, {}, model), (Ids {3}));
    cold.temperature = 1;
    generation.randomSource = fractions({0.5});
    EXPECT_EQ(generation.sample(cold, {}, model), (Ids {2}));

    // The end token ends sampling as it ends greedy search.
    GenerationConfig ending = plain;
    ending.eosTokenId = 3;
    generation.randomSource = fractions({0.05, 0.95, 0.05});
    EXPECT_EQ(generation.sample(ending, {}, model), (Ids {0}));
}

TEST(Generation, GenerateDecodesPromptAndNewTokens)
{
    const auto tokenizer = wordTokenizer();
    Generation generation;
    ScriptedModel model {{3, 4, 1}};
    GenerationConfig config(5);
    config.eosTokenId = 1;
    std::vector<std::string> texts;
    EXPECT_EQ(generation.generate(config, "hello", model.callable(), *tokenizer, [&](const std::string& text) { texts.push_back(text); }),
        "hellobigworld");
    EXPECT_EQ(texts, (std::vector<std::string> {"hellobig", "hellobigworld"}));

    // The limit counts new tokens only.
    ScriptedModel long_ {{5, 5, 5, 5}};
    config.maxNewTokens = 2;
    config.maxLength = 1;
    EXPECT_EQ(generation.generate(config, "hello world", long_.callable(), *tokenizer), "helloworldagainagain");

    ScriptedModel unused {{}};
    config.maxNewTokens = 0;
    EXPECT_EQ(generation.generate(config, "hello world", unused.callable(), *tokenizer), "helloworld");
    EXPECT_TRUE(unused.calls.empty());

    GenerationConfig sampling(1);
    sampling.doSample = true;
    generation.randomSource = fractions({0.5});
    ScriptedModel sampled {{4}};
    EXPECT_EQ(generation.generate(sampling, "hello", sampled.callable(), *tokenizer), "helloworld");

    GenerationConfig beams(1);
    beams.numBeams = 2;
    try {
        generation.generate(beams, "hello", unused.callable(), *tokenizer);
        ADD_FAILURE() << "beam search ran";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Generation mode beam not implemented yet");
    }
}

TEST(Generation, GenerateUsesAConformersOwnGreedySearch)
{
    struct Repeating : Generation {
        std::vector<int> greedySearch(const GenerationConfig& config, const std::vector<int>& tokens, const NextTokenModel&,
            const PredictionTokensCallback& callback) const override
        {
            std::vector<int> output = tokens;
            output.resize(static_cast<std::size_t>(config.maxLength), tokens.back());
            callback(output);
            return output;
        }
    };
    const auto tokenizer = wordTokenizer();
    ScriptedModel unused {{}};
    GenerationConfig config(2);
    std::string streamed;
    EXPECT_EQ(Repeating().generate(config, "big world", unused.callable(), *tokenizer, [&](const std::string& text) { streamed = text; }),
        "bigworldworldworld");
    EXPECT_EQ(streamed, "bigworldworldworld");
}
