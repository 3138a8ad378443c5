#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/BertTokenizer.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

json bertVocab()
{
    return {{"[UNK]", 0}, {"[CLS]", 1}, {"[SEP]", 2}, {"hello", 3}, {",", 4}, {"world", 5}, {"!", 6}, {"un", 7},
        {"##aff", 8}, {"##able", 9}, {"caf\xC3\xA9", 10}, {"cafe", 11}, {"\xE4\xB8\xAD", 12}, {"\xE6\x96\x87", 13}};
}

json bertData(json vocab = bertVocab())
{
    return {{"model", {{"type", "WordPiece"}, {"vocab", std::move(vocab)}}}};
}

std::unique_ptr<BertTokenizer> bert(json config = json::object(), json vocab = bertVocab())
{
    return std::make_unique<BertTokenizer>(Config(std::move(config)), Config(bertData(std::move(vocab))), AddedTokens {});
}

std::string repeated(const std::string& piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

} // namespace

TEST(BertTokenizer, BasicTokenizerSplitsWordsPunctuationAndBlanks)
{
    const BasicTokenizer basic;
    EXPECT_EQ(basic.tokenize("Hello, World!"), (Strings {"hello", ",", "world", "!"}));
    EXPECT_EQ(basic.tokenize("[CLS] x [SEP]"), (Strings {"[CLS]", "x", "[SEP]"}));
    EXPECT_EQ(basic.tokenize("[cls]"), (Strings {"[", "cls", "]"}));
    EXPECT_EQ(basic.tokenize("Caf\xC3\xA9"), (Strings {"cafe"}));
    EXPECT_EQ(basic.tokenize("Cafe\xCC\x81"), (Strings {"cafe"}));
    EXPECT_EQ(basic.tokenize("25\xC2\xB0" "C"), (Strings {"25\xC2\xB0" "c"}));
    // A tab and a no-break space separate; a line feed is a token of its own; runs of blanks add nothing.
    EXPECT_EQ(basic.tokenize("a\tb\xC2\xA0" "c  d\ne"), (Strings {"a", "b", "c", "d", "\n", "e"}));
    EXPECT_EQ(basic.tokenize(""), Strings {});
    EXPECT_EQ(basic.tokenize("   "), Strings {});
    // Letters of any script and numbers stay inside words; symbols split off.
    EXPECT_EQ(basic.tokenize("\xC5\xBELU\xC5\xA4" "A\xC2\xBD$x"), (Strings {"zluta\xC2\xBD", "$", "x"}));
}

TEST(BertTokenizer, WordpieceTakesTheLongestPiecesOrGivesUnknown)
{
    const auto full = bert();
    EXPECT_EQ(full->tokenize("unaffable"), (Strings {"un", "##aff", "##able"}));
    EXPECT_EQ(full->tokenize("Hello, World!"), (Strings {"hello", ",", "world", "!"}));
    EXPECT_EQ(full->tokenize("unaff unknown"), (Strings {"un", "##aff", "[UNK]"}));

    json partial = {{"un", 0}, {"##aff", 1}};
    EXPECT_EQ(bert(json::object(), partial)->tokenize("unaffable"), (Strings {"[UNK]"}));

    const std::string hundred = repeated("a", 100);
    json long_ = {{"[UNK]", 0}, {"a", 1}, {"##a", 2}, {hundred + "a", 3}};
    const auto longWords = bert(json::object(), long_);
    EXPECT_EQ(longWords->tokenize(hundred + "a"), (Strings {"[UNK]"}));
    const auto split = longWords->tokenize(hundred);
    ASSERT_EQ(split.size(), 100u);
    EXPECT_EQ(split.front(), "a");
    EXPECT_EQ(split.back(), "##a");
    // Characters, not bytes, are counted: 100 two-byte letters are not too long.
    EXPECT_EQ(longWords->tokenize(repeated("\xC3\xA1", 100)).size(), 100u);
    EXPECT_EQ(WordpieceTokenizer(StringMap<int> {}).tokenize(""), Strings {});
}

TEST(BertTokenizer, ChineseCharactersAreSpacedOutUnlessTurnedOff)
{
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";
    EXPECT_EQ(bert()->tokenize(chinese), (Strings {"\xE4\xB8\xAD", "\xE6\x96\x87"}));
    EXPECT_TRUE(bert()->tokenizeChineseChars());
    EXPECT_TRUE(bert({{"handle_chinese_chars", "no"}})->tokenizeChineseChars());
    const auto off = bert({{"handle_chinese_chars", false}});
    EXPECT_FALSE(off->tokenizeChineseChars());
    // One word now, and "##\xE6\x96\x87" is no piece.
    EXPECT_EQ(off->tokenize(chinese), (Strings {"[UNK]"}));
    EXPECT_EQ(BertTokenizer::spaceOutChineseCharacters("a" + chinese + "b"), "a \xE4\xB8\xAD  \xE6\x96\x87 b");
}

TEST(BertTokenizer, IdsAndSpecialTokens)
{
    const auto model = bert({{"eos_token", "[SEP]"}, {"bos_token", {{"content", "[CLS]"}}}});
    EXPECT_EQ(model->convertTokenToId("world"), 5);
    EXPECT_EQ(model->convertTokenToId("nowhere"), 0);
    EXPECT_EQ(model->convertIdToToken(9), "##able");
    EXPECT_EQ(model->convertIdToToken(99), std::nullopt);
    EXPECT_EQ(model->unknownToken(), "[UNK]");
    EXPECT_EQ(model->unknownTokenId(), 0);
    EXPECT_EQ(model->eosToken(), "[SEP]");
    EXPECT_EQ(model->eosTokenId(), 2);
    EXPECT_EQ(model->bosToken(), std::nullopt);
    EXPECT_EQ(model->bosTokenId(), std::nullopt);
    EXPECT_EQ(model->maxLen(), 512);
    // A decomposed spelling finds the precomposed entry.
    EXPECT_EQ(model->convertTokenToId("cafe\xCC\x81"), 10);

    json noUnknown = {{"a", 0}};
    const auto bare = bert(json::object(), noUnknown);
    EXPECT_EQ(bare->unknownTokenId(), std::nullopt);
    EXPECT_EQ(bare->convertTokenToId("b"), std::nullopt);

    // Added tokens are not laid over the vocabulary.
    const BertTokenizer withAdded(Config(json::object()), Config(bertData()), AddedTokens {{"world", 40}, {"[NEW]", 41}});
    EXPECT_EQ(withAdded.convertTokenToId("world"), 5);
    EXPECT_EQ(withAdded.convertTokenToId("[NEW]"), 0);
}

TEST(BertTokenizer, RejectsVocabulariesThatAreNotTokenToInteger)
{
    const auto build = [](json data) {
        return configurationMessage([&] { BertTokenizer(Config(json::object()), Config(std::move(data)), {}); });
    };
    EXPECT_EQ(build(json::object()), "missingVocab");
    EXPECT_EQ(build({{"model", {{"merges", json::array()}}}}), "missingVocab");
    EXPECT_EQ(build(bertData(json::array({json::array({"a", 0})}))), "missingVocab");
    EXPECT_EQ(build(bertData({{"a", 0}, {"b", "1"}})), "missingVocab");
    EXPECT_EQ(build(bertData({{"a", 0}, {"b", 1.5}})), "missingVocab");
    EXPECT_EQ(build(bertData({{"a", 0}, {"b", 1}})), "no error");
}

TEST(BertTokenizer, BuiltByClassNameThroughThePipeline)
{
    const auto tokenizer = AutoTokenizer::from(Config(json {{"tokenizer_class", "BertTokenizerFast"}}), Config(bertData()));
    EXPECT_EQ(tokenizer->encode("Hello, unaffable world!"), (std::vector<int> {3, 4, 7, 8, 9, 5, 6}));
    EXPECT_EQ(tokenizer->encode("hello moon"), (std::vector<int> {3, 0}));
}
