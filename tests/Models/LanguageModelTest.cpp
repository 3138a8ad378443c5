#include "Models/LanguageModel.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include "Hub/LoopbackFixture.hpp"

#include <gtest/gtest.h>

#include <mutex>

using models::LanguageModel;
using nlohmann::json;
using Ids = std::vector<int>;

namespace {

constexpr int vocabularySize = 10;
constexpr char programName[] = "tests.next-token";

// What the fake model was given, one entry per prediction.
struct Recorder {
    std::mutex mutex;
    std::vector<std::vector<int>> shapes;
    std::vector<Ids> ids;
    std::vector<std::optional<Ids>> masks;
};

Ids valuesOf(const ml::MultiArray& array)
{
    Ids values;
    for (std::size_t i = 0; i < array.count(); ++i) {
        values.push_back(static_cast<int>(array[i]));
    }
    return values;
}

// At every position the best next id is the id there plus one (modulo the vocabulary).
class NextTokenProgram : public ml::Program {
public:
    NextTokenProgram(int vocabulary, std::shared_ptr<Recorder> recorder)
        : vocabulary_(vocabulary)
        , recorder_(std::move(recorder))
    {
    }

    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        const ml::MultiArray ids = *inputs.featureValue(LanguageModel::input_ids);
        const auto mask = inputs.featureValue(LanguageModel::attention_mask);
        {
            const std::lock_guard lock(recorder_->mutex);
            recorder_->shapes.push_back(ids.shape());
            recorder_->ids.push_back(valuesOf(ids));
            recorder_->masks.push_back(mask ? std::optional<Ids>(valuesOf(*mask)) : std::nullopt);
        }
        const int length = ids.shape()[1];
        ml::MultiArray logits({1, length, vocabulary_}, ml::MultiArrayDataType::float32);
        for (int position = 0; position < length; ++position) {
            const int next = (static_cast<int>(ids.value({0, position})) + 1) % vocabulary_;
            logits.setValue({0, position, next}, 1.0);
        }
        return ml::DictionaryFeatureProvider({{"logits", logits}});
    }

private:
    int vocabulary_;
    std::shared_ptr<Recorder> recorder_;
};

ml::ShapeConstraint enumerated(std::vector<std::vector<int>> shapes)
{
    return {ml::ShapeConstraint::Type::enumerated, std::move(shapes), {}};
}

ml::ShapeConstraint range(int lowest, int highest)
{
    return {ml::ShapeConstraint::Type::range, {}, {{1, 1}, {lowest, highest}}};
}

ml::ShapeConstraint unspecified()
{
    return {ml::ShapeConstraint::Type::unspecified, {}, {}};
}

struct FakeModel {
    std::vector<int> shape {1, 8};
    std::optional<ml::ShapeConstraint> constraint = enumerated({{1, 8}});
    bool attention = true;
    std::optional<std::string> name = "tests/tiny-lm";
    std::map<std::string, std::string> metadata;
    std::optional<std::string> displayName;
};

class LanguageModelTest : public LoopbackFixture {
protected:
    void SetUp() override
    {
        LoopbackFixture::SetUp();
        ml::ProgramRegistry::shared().add(programName, [recorder = recorder](const ml::ProgramContext& context) {
            return std::make_unique<NextTokenProgram>(context.folder.intParameter("vocabulary"), recorder);
        });
    }

    std::shared_ptr<ml::Model> load(const FakeModel& fake)
    {
        ml::ModelDescription description;
        description.inputs.push_back({LanguageModel::input_ids, ml::MultiArrayDataType::int32, fake.shape, false, fake.constraint});
        if (fake.attention) {
            description.inputs.push_back(
                {LanguageModel::attention_mask, ml::MultiArrayDataType::int32, fake.shape, false, fake.constraint});
        }
        description.outputs.push_back({"logits", ml::MultiArrayDataType::float32, {1, fake.shape.back(), vocabularySize}});
        description.metadata = fake.metadata;
        if (fake.name) {
            description.metadata[LanguageModel::creatorDefinedMetadataKey] = json {{LanguageModel::modelNameKey, *fake.name}}.dump();
        }
        const auto folder = temporary / ("Model" + std::to_string(++models_) + ".mlmodelc");
        ml::ModelFolderWriter(programName, {{"vocabulary", vocabularySize}}, description).write(folder);
        ml::ModelConfiguration configuration;
        configuration.modelDisplayName = fake.displayName;
        return ml::Model::load(folder, configuration);
    }

    LanguageModel languageModel(const FakeModel& fake = {}) { return LanguageModel(load(fake), client()); }

    std::string refusal(const FakeModel& fake)
    {
        try {
            languageModel(fake);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "accepted";
    }

    // config.json, tokenizer_config.json and tokenizer.json of a letter vocabulary: a=1, b=2, ...
    void publishRepository(const std::string& repoId, bool withTokenizerConfig = true, json modelConfig = json::object())
    {
        json vocab = {{"[UNK]", 0}};
        for (int id = 1; id < vocabularySize; ++id) {
            vocab[std::string(1, static_cast<char>('a' + id - 1))] = id;
        }
        publish(repoId, "config.json", modelConfig.dump());
        if (withTokenizerConfig) {
            publish(repoId, "tokenizer_config.json", json {{"tokenizer_class", "BertTokenizer"}}.dump());
        }
        publish(repoId, "tokenizer.json", json {{"model", {{"type", "WordPiece"}, {"vocab", vocab}}}}.dump());
    }

    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    int models_ = 0;
};

generation::GenerationConfig settings(std::optional<int> padTokenId = std::nullopt)
{
    generation::GenerationConfig config(30);
    config.padTokenId = padTokenId;
    return config;
}

int best(const ml::MultiArray& scores)
{
    return tensorutils::Math::argmax32(scores).first;
}

} // namespace

TEST_F(LanguageModelTest, ContextLengthsComeFromTheIdsShapeConstraint)
{
    const auto lengths = [&](FakeModel fake) {
        const auto model = languageModel(fake);
        return std::make_pair(model.minContextLength(), model.maxContextLength());
    };
    EXPECT_EQ(lengths({{1, 128}, enumerated({{1, 64}, {1, 128}})}), std::make_pair(64, 64));
    EXPECT_EQ(lengths({{1, 8}, range(2, 8)}), std::make_pair(2, 8));
    EXPECT_EQ(lengths({{1, 8}, range(4, -1)}), std::make_pair(4, 128));
    EXPECT_EQ(lengths({{1, 8}, ml::ShapeConstraint {ml::ShapeConstraint::Type::range, {}, {{1, 16}}}}), std::make_pair(1, 128));
    EXPECT_EQ(lengths({{1, 8}, unspecified()}), std::make_pair(128, 128));
    EXPECT_EQ(lengths({{1, 16}, std::nullopt}), std::make_pair(16, 16));

    EXPECT_EQ(refusal({{8}, unspecified()}), "Cannot obtain shape information");
    EXPECT_EQ(refusal({{2, 8}, unspecified()}), "Cannot obtain shape information");
    EXPECT_EQ(refusal({{1, 8}, enumerated({})}), "Cannot obtain shape information");
    EXPECT_EQ(refusal({{1, 8}, range(9, 8)}), "Cannot obtain shape information");
}

TEST_F(LanguageModelTest, NamesAndDescriptions)
{
    EXPECT_EQ(refusal({.name = std::nullopt}), "Models must have a name that identifies them");
    EXPECT_EQ(languageModel({.name = std::nullopt, .displayName = "Shown"}).modelName(), "Shown");
    const auto named = languageModel({.metadata = {{LanguageModel::descriptionMetadataKey, "A tiny model"}}, .displayName = "Shown"});
    EXPECT_EQ(named.modelName(), "tests/tiny-lm");
    EXPECT_EQ(named.description(), "A tiny model");
    EXPECT_EQ(languageModel({.displayName = "Shown"}).description(), "Shown");
    EXPECT_EQ(languageModel().description(), "");
    // A creator-defined entry that is no object of strings is no name.
    EXPECT_EQ(refusal({.name = std::nullopt, .metadata = {{LanguageModel::creatorDefinedMetadataKey, "not json"}}}),
        "Models must have a name that identifies them");

    const auto greedy = languageModel().defaultGenerationConfig();
    EXPECT_EQ(greedy.maxNewTokens, 30);
    EXPECT_EQ(greedy.maxLength, 20);
    EXPECT_EQ(greedy.generationMode(), generation::GenerationMode::greedy);
    EXPECT_TRUE(languageModel({.name = "org/DistilGPT2"}).defaultGenerationConfig().doSample);
    EXPECT_TRUE(languageModel({.name = "org/my-gpt"}).defaultGenerationConfig().doSample);
    EXPECT_FALSE(languageModel({.name = "org/g-p-t"}).defaultGenerationConfig().doSample);
}

TEST_F(LanguageModelTest, ShortInputsArePaddedAndMasked)
{
    const auto model = languageModel();
    EXPECT_TRUE(model.requiresAttention());
    EXPECT_EQ(model.inputIdsName(), "input_ids");
    EXPECT_EQ(best(model.predictNextTokenScores({1, 2, 3, 4, 5}, settings())), 6);
    EXPECT_EQ(recorder->ids.back(), (Ids {1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_EQ(recorder->masks.back(), (Ids {1, 1, 1, 1, 1, 0, 0, 0}));
    // The pad id is the settings' own; the scores still come after the last real id.
    const auto scores = model({1, 2, 3, 4, 5}, settings(7));
    EXPECT_EQ(recorder->ids.back(), (Ids {1, 2, 3, 4, 5, 7, 7, 7}));
    EXPECT_EQ(scores.shape(), (std::vector<int> {vocabularySize}));
    EXPECT_EQ(best(scores), 6);
    EXPECT_EQ(scores.dataType(), ml::MultiArrayDataType::float32);

    // Without a mask input only the ids go in.
    const auto unmasked = languageModel({.attention = false});
    EXPECT_FALSE(unmasked.requiresAttention());
    EXPECT_EQ(best(unmasked.predictNextTokenScores({3}, settings())), 4);
    EXPECT_EQ(recorder->masks.back(), std::nullopt);

    EXPECT_THROW(model.predictNextTokenScores({}, settings()), std::runtime_error);
}

TEST_F(LanguageModelTest, LongInputsKeepTheLatestIds)
{
    const auto model = languageModel();
    const Ids twelve {1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3};
    EXPECT_EQ(best(model.predictNextTokenScores(twelve, settings())), 4);
    EXPECT_EQ(recorder->ids.back(), (Ids {5, 6, 7, 8, 9, 1, 2, 3}));
    EXPECT_EQ(recorder->masks.back(), Ids(8, 1));
}

TEST_F(LanguageModelTest, FlexibleInputsTakeTheLengthTheyNeed)
{
    // A range takes the real ids alone, padded only up to its lowest length.
    const auto ranged = languageModel({{1, 8}, range(4, 8)});
    EXPECT_EQ(best(ranged.predictNextTokenScores({1, 2, 3, 4, 5}, settings())), 6);
    EXPECT_EQ(recorder->shapes.back(), (std::vector<int> {1, 5}));
    EXPECT_EQ(best(ranged.predictNextTokenScores({2, 3}, settings())), 4);
    EXPECT_EQ(recorder->ids.back(), (Ids {2, 3, 0, 0}));
    EXPECT_EQ(recorder->masks.back(), (Ids {1, 1, 0, 0}));

    // Enumerated shapes use the first one even when the declared shape is another.
    const auto enumeratedModel = languageModel({{1, 6}, enumerated({{1, 4}, {1, 6}})});
    EXPECT_EQ(best(enumeratedModel.predictNextTokenScores({1, 2, 3, 4, 5}, settings())), 6);
    EXPECT_EQ(recorder->ids.back(), (Ids {2, 3, 4, 5}));

    const auto open = languageModel({{1, 8}, unspecified()});
    EXPECT_EQ(best(open.predictNextTokenScores({1, 2}, settings())), 3);
    EXPECT_EQ(recorder->shapes.back(), (std::vector<int> {1, 128}));
}

TEST_F(LanguageModelTest, GeneratesTextWithTheHubTokenizer)
{
    publishRepository("tests/tiny-lm", true,
        {{"model_type", "tiny"}, {"bos_token_id", 1}, {"eos_token_id", 5},
            {"task_specific_params", {{"text_generation", {{"do_sample", false}}}}}});
    const auto model = languageModel();
    EXPECT_EQ(model.modelType(), "tiny");
    EXPECT_EQ(model.bosTokenId(), 1);
    EXPECT_EQ(model.eosTokenId(), 5);
    EXPECT_FALSE(model.defaultDoSample());
    const auto tokenizer = model.tokenizer();
    EXPECT_EQ(model.tokenizer(), tokenizer);
    EXPECT_EQ(tokenizer->encode("a b"), (Ids {1, 2}));

    auto config = model.defaultGenerationConfig();
    config.maxNewTokens = 3;
    std::vector<std::string> texts;
    EXPECT_EQ(model.generate(config, "a b", [&](const std::string& text) { texts.push_back(text); }), "abcde");
    EXPECT_EQ(texts, (std::vector<std::string> {"abc", "abcd", "abcde"}));
    EXPECT_EQ(recorder->ids.back(), (Ids {1, 2, 3, 4, 0, 0, 0, 0}));

    // The end id from the settings stops generation before it is appended.
    config.eosTokenId = 4;
    EXPECT_EQ(model.generate(config, "a b"), "abc");
}

TEST_F(LanguageModelTest, HubConfigurationProblemsReachTheCaller)
{
    publishRepository("tests/no-tokenizer", false);
    const auto withoutTokenizer = languageModel({.name = "tests/no-tokenizer"});
    EXPECT_TRUE(withoutTokenizer.defaultDoSample());
    EXPECT_EQ(withoutTokenizer.modelType(), std::nullopt);
    try {
        withoutTokenizer.generate(withoutTokenizer.defaultGenerationConfig(), "a");
        ADD_FAILURE() << "generated without a tokenizer";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Cannot retrieve Tokenizer configuration");
    }

    const auto missing = languageModel({.name = "tests/absent"});
    EXPECT_ANY_THROW(missing.modelConfig());
    EXPECT_ANY_THROW(missing.tokenizer());

    auto detached = languageModel();
    detached.setConfiguration(nullptr);
    EXPECT_THROW(detached.modelConfig(), std::runtime_error);
}
