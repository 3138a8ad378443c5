#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/T5Tokenizer.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

// Ids: <unk> 0, </s> 1, a 2, b 3, ab 4, bc 5, c 6, abc 7, é 8, ▁ 9.
json unigramVocab()
{
    return json::array({
        json::array({"<unk>", 0.0}),
        json::array({"</s>", 0.0}),
        json::array({"a", -1.0}),
        json::array({"b", -5.0}),
        json::array({"ab", -2.0}),
        json::array({"bc", -2.0}),
        json::array({"c", -1.0}),
        json::array({"abc", -6.5}),
        json::array({"\xC3\xA9", -1.0}),
        json::array({"\xE2\x96\x81", -0.5}),
    });
}

json unigramData(json vocab = unigramVocab(), json unknownId = 0)
{
    return {{"model", {{"type", "Unigram"}, {"unk_id", std::move(unknownId)}, {"vocab", std::move(vocab)}}}};
}

std::unique_ptr<UnigramTokenizer> unigram(json config = json::object(), json data = unigramData())
{
    return std::make_unique<T5Tokenizer>(Config(std::move(config)), Config(std::move(data)), AddedTokens {});
}

} // namespace

TEST(UnigramTokenizer, PicksTheBestScoringSegmentation)
{
    const auto model = unigram();
    EXPECT_EQ(model->tokenize("ab"), (Strings {"ab"}));
    // a + bc and ab + c both total -3; the piece ending at the end that starts earlier wins.
    EXPECT_EQ(model->tokenize("abc"), (Strings {"a", "bc"}));
    EXPECT_EQ(model->tokenize("abcabc"), (Strings {"a", "bc", "a", "bc"}));
    EXPECT_EQ(model->tokenize(""), Strings {});
    // A decomposed é is the same character as the precomposed piece, and comes back as written.
    EXPECT_EQ(model->tokenize("ae\xCC\x81"), (Strings {"a", "e\xCC\x81"}));
    EXPECT_EQ(model->convertTokenToId("e\xCC\x81"), 8);
}

TEST(UnigramTokenizer, UncoveredCharactersComeBackOneByOne)
{
    const auto model = unigram();
    EXPECT_EQ(model->tokenize("xy"), (Strings {"x", "y"}));
    EXPECT_EQ(model->tokenize("axyb"), (Strings {"a", "x", "y", "b"}));
    EXPECT_EQ(model->tokenize("\xF0\x9F\x87\xB8\xF0\x9F\x87\xB0" "a"), (Strings {"\xF0\x9F\x87\xB8\xF0\x9F\x87\xB0", "a"}));
    EXPECT_EQ(model->convertTokenToId("x"), 0);
    EXPECT_EQ(model->unknownToken(), "<unk>");
    EXPECT_EQ(model->unknownPiece().score, -16.5f);

    // The unknown score sits far below every piece, so a known character is never skipped for it.
    const auto tokenizer = AutoTokenizer::from(Config(json {{"tokenizer_class", "T5TokenizerFast"}}), Config(unigramData()));
    EXPECT_EQ(tokenizer->encode("xaz"), (std::vector<int> {0, 2, 0}));
    EXPECT_EQ(tokenizer->encode("abcab"), (std::vector<int> {2, 5, 4}));
}

TEST(UnigramTokenizer, ScoresIdsAndBoundaryTokens)
{
    const auto model = unigram({{"eos_token", "</s>"}});
    EXPECT_EQ(model->minScore(), -6.5f);
    EXPECT_EQ(model->eosToken(), "</s>");
    EXPECT_EQ(model->eosTokenId(), 1);
    EXPECT_EQ(model->bosToken(), " ");
    EXPECT_EQ(model->bosTokenId(), std::nullopt);
    EXPECT_EQ(model->convertIdToToken(9), "\xE2\x96\x81");
    EXPECT_EQ(model->convertIdToToken(10), std::nullopt);
    EXPECT_EQ(model->convertIdToToken(-1), std::nullopt);
    EXPECT_EQ(model->convertTokensToIds({"ab", "zz"}), (std::vector<std::optional<int>> {4, 0}));

    const auto objectEos = unigram({{"eos_token", {{"content", "</s>"}}}});
    EXPECT_EQ(objectEos->eosToken(), std::nullopt);
    EXPECT_EQ(objectEos->eosTokenId(), std::nullopt);
    EXPECT_EQ(unigram({{"eos_token", "<none>"}})->eosTokenId(), std::nullopt);

    // Scores above 999 leave the minimum at 999; a blank piece gives the boundary id.
    json high = json::array({json::array({"<unk>", 1000.0}), json::array({" ", 1200.0}), json::array({"a", 1001.0})});
    const auto capped = unigram(json::object(), unigramData(high));
    EXPECT_EQ(capped->minScore(), 999.0f);
    EXPECT_EQ(capped->unknownPiece().score, 989.0f);
    EXPECT_EQ(capped->bosTokenId(), 1);
    EXPECT_EQ(capped->tokenize("a a"), (Strings {"a", " ", "a"}));

    // Entries may carry more than two elements: the first is the piece, the last its score.
    json wide = json::array({json::array({"<unk>", "x", 0}), json::array({"q", 7, -1})});
    EXPECT_EQ(unigram(json::object(), unigramData(wide))->vocab()[1], (SentencePieceToken {"q", -1.0f}));
}

TEST(UnigramTokenizer, RejectsMalformedVocabularies)
{
    const auto build = [](json data) {
        return configurationMessage([&] { T5Tokenizer(Config(json::object()), Config(std::move(data)), {}); });
    };
    EXPECT_EQ(build(json::object()), "missingVocab");
    EXPECT_EQ(build({{"model", {{"unk_id", 0}}}}), "missingVocab");
    EXPECT_EQ(build(unigramData({{"a", 1}})), "missingVocab");
    EXPECT_EQ(build(unigramData(json::array({json::array({"a", 0}), "b"}))), "missingVocab");
    EXPECT_EQ(build(unigramData(json::array({json::array()}))), "malformedVocab");
    EXPECT_EQ(build(unigramData(json::array({json::array({1, 0})}))), "malformedVocab");
    EXPECT_EQ(build(unigramData(json::array({json::array({"a"})}))), "malformedVocab");
    EXPECT_EQ(build(unigramData(json::array({json::array({"a", "0"})}))), "malformedVocab");
    EXPECT_EQ(build(unigramData(unigramVocab(), nullptr)), "malformedVocab");
    EXPECT_EQ(build(unigramData(unigramVocab(), "0")), "malformedVocab");
    EXPECT_EQ(build({{"model", {{"vocab", unigramVocab()}}}}), "malformedVocab");
    // An unknown id that names no piece.
    EXPECT_EQ(build(unigramData(unigramVocab(), 10)), "malformedVocab");
    EXPECT_EQ(build(unigramData(unigramVocab(), -1)), "malformedVocab");
    EXPECT_EQ(build(unigramData(json::array(), 0)), "malformedVocab");
    EXPECT_EQ(build(unigramData(unigramVocab(), 9)), "no error");
    EXPECT_EQ(build({{"model", {{"unkId", 1}, {"vocab", unigramVocab()}}}}), "no error");
}
