#include "Tokenizers/BPETokenizer.hpp"
#include "Tokenizers/ByteEncoder.hpp"
#include "Tokenizers/Tokenizer.hpp"

#include "TokenizerFixtures.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;

namespace {

using Strings = std::vector<std::string>;

BPETokenizer makeModel(const json& vocab, const json& merges, const json& config = json::object(), const AddedTokens& added = {})
{
    return BPETokenizer(Config(config), Config(fixtures::bpeData(vocab, merges)), added);
}

// The merge loop exactly as described: rescan every adjacent pair after each round.
std::string referenceMerge(const Strings& characters, const std::map<std::pair<std::string, std::string>, int>& ranks)
{
    Strings word = characters;
    while (word.size() > 1) {
        std::optional<std::pair<std::string, std::string>> best;
        int bestRank = 0;
        for (std::size_t k = 0; k + 1 < word.size(); ++k) {
            const auto it = ranks.find({word[k], word[k + 1]});
            if (it != ranks.end() && (!best || it->second < bestRank)) {
                best = it->first;
                bestRank = it->second;
            }
        }
        if (!best) {
            break;
        }
        Strings rebuilt;
        for (std::size_t i = 0; i < word.size();) {
            if (i + 1 < word.size() && word[i] == best->first && word[i + 1] == best->second) {
                rebuilt.push_back(word[i] + word[i + 1]);
                i += 2;
            } else {
                rebuilt.push_back(word[i++]);
            }
        }
        word = rebuilt;
    }
    std::string joined;
    for (const auto& symbol : word) {
        joined += (joined.empty() ? "" : " ") + symbol;
    }
    return joined;
}

} // namespace

TEST(BPETokenizer, MergesByRankLeftToRight)
{
    const auto model = makeModel({{"hello", 0}, {"h", 1}}, {"h e", "l l", "he ll", "hell o"});
    EXPECT_EQ(model.bpeMerge("hello"), "hello");
    EXPECT_EQ(model.tokenize("hello"), Strings {"hello"});
    // One character: kept when known, byte tokens otherwise.
    EXPECT_EQ(model.tokenize("h"), Strings {"h"});
    EXPECT_EQ(model.tokenize("x"), Strings {"<0x78>"});
    EXPECT_EQ(model.tokenize(""), Strings {});

    const auto aa = makeModel({{"aa", 0}, {"a", 1}}, {"a a"});
    EXPECT_EQ(aa.tokenize("aaa"), (Strings {"aa", "a"}));
    EXPECT_EQ(aa.tokenize("aaaa"), (Strings {"aa", "aa"}));

    // A round merges every occurrence of its pair before pairs it creates are considered, even when
    // those rank lower.
    const auto rounds = makeModel({{"ab", 0}, {"aba", 1}}, {"ab a", "x y", "a b"});
    EXPECT_EQ(rounds.bpeMerge("abab"), "ab ab");

    const auto repeated = makeModel(json::object(), {"q r", "a b", "s t", "a b"});
    EXPECT_EQ(repeated.bpeRank({"a", "b"}), 3);
    EXPECT_EQ(repeated.bpeRank({"b", "a"}), std::nullopt);

    // No merges at all: single characters, byte tokens for the unknown ones.
    const auto none = makeModel({{"a", 0}}, json::array());
    EXPECT_EQ(none.tokenize("ab"), (Strings {"a", "<0x62>"}));
    EXPECT_EQ(none.tokenize("\xC3\xA9"), (Strings {"<0xC3>", "<0xA9>"}));
    // A decomposed accent is one character with the letter.
    EXPECT_EQ(none.tokenize("e\xCC\x81"), (Strings {"<0x65>", "<0xCC>", "<0x81>"}));
    EXPECT_EQ(none.bpeMerge("e\xCC\x81"), "e\xCC\x81");

    // A blank never survives inside a piece: it separates symbols.
    const auto blanks = makeModel({{"a", 0}, {"b", 1}}, json::array());
    EXPECT_EQ(blanks.tokenize("a b  "), (Strings {"a", "b"}));
}

TEST(BPETokenizer, AgreesWithTheReferenceMergeLoop)
{
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 300; ++trial) {
        // Random merges over a tiny alphabet, including merged symbols as parts and repeated pairs.
        Strings symbols {"a", "b", "c"};
        json merges = json::array();
        std::map<std::pair<std::string, std::string>, int> ranks;
        const int mergeCount = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < mergeCount; ++i) {
            const std::string a = symbols[random() % symbols.size()];
            const std::string b = symbols[random() % symbols.size()];
            merges.push_back(a + " " + b);
            ranks[{a, b}] = i;
            symbols.push_back(a + b);
        }
        const auto model = makeModel(json::object(), merges);
        Strings characters;
        std::string word;
        // Long words take another road than short ones.
        const int length = 1 + static_cast<int>(random() % (trial % 3 == 0 ? 90 : 14));
        for (int i = 0; i < length; ++i) {
            characters.push_back(std::string(1, static_cast<char>('a' + random() % 3)));
            word += characters.back();
        }
        ASSERT_EQ(model.bpeMerge(word), referenceMerge(characters, ranks)) << "word " << word << " merges " << merges.dump();
    }
}

TEST(BPETokenizer, VocabularyAddedTokensAndTokenSettings)
{
    const json vocab = {{"hello", 3}, {"<unk>", 0}, {"<s>", 1}};
    const auto model = makeModel(vocab, json::array(), {{"unk_token", {{"content", "<unk>"}}}, {"eos_token", {{"content", "<s>"}}}, {"bos_token", "<s>"}},
        {{"hello", 7}, {"<|new|>", 9}});
    EXPECT_EQ(model.convertTokenToId("hello"), 7);
    EXPECT_EQ(model.convertIdToToken(7), "hello");
    EXPECT_EQ(model.convertIdToToken(3), std::nullopt);
    EXPECT_EQ(model.convertTokenToId("<|new|>"), 9);
    EXPECT_EQ(model.convertIdToToken(9), "<|new|>");
    EXPECT_EQ(model.convertIdToToken(12345), std::nullopt);

    EXPECT_EQ(model.unknownToken(), "<unk>");
    EXPECT_EQ(model.unknownTokenId(), 0);
    EXPECT_EQ(model.convertTokenToId("missing"), 0);
    // A missing control token must not hide behind the unknown token's id.
    EXPECT_EQ(model.knownTokenId("missing"), std::nullopt);
    EXPECT_EQ(model.knownTokenId("<unk>"), 0);
    // An end token written as an object is not read; a plain string is.
    EXPECT_EQ(model.eosToken(), std::nullopt);
    EXPECT_EQ(model.bosToken(), "<s>");
    EXPECT_EQ(model.bosTokenId(), 1);

    const auto plain = makeModel(vocab, json::array(), {{"unk_token", "<unk>"}, {"eos_token", "</s>"}});
    EXPECT_EQ(plain.unknownToken(), "<unk>");
    EXPECT_EQ(plain.eosToken(), "</s>");
    EXPECT_EQ(plain.eosTokenId(), std::nullopt);

    const auto noUnknown = makeModel(vocab, json::array());
    EXPECT_EQ(noUnknown.convertTokensToIds({"<s>", "missing"}), (std::vector<std::optional<int>> {1, std::nullopt}));
    EXPECT_TRUE(noUnknown.convertIdsToTokens({}).empty());
}

TEST(BPETokenizer, MergesInEitherWrittenFormAndConfigurationErrors)
{
    const json vocab = {{"ab", 0}, {"abc", 1}};
    const auto pairs = makeModel(vocab, json::array({json::array({"a", "b"}), "ab c"}));
    EXPECT_EQ(pairs.tokenize("abc"), Strings {"abc"});
    // A line with two blanks pairs the first part with an empty one; a line without a blank has no pair.
    const auto odd = makeModel(vocab, {"a  b", "nopair", "a b"});
    EXPECT_EQ(odd.bpeRank({"a", ""}), 0);
    EXPECT_EQ(odd.bpeRank({"a", "b"}), 2);

    auto messageOf = [](const json& data) {
        try {
            BPETokenizer(Config(json::object()), Config(data), {});
        } catch (const TokenizerError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(messageOf(json::object()), "BPETokenizer requires merges");
    EXPECT_EQ(messageOf({{"model", {{"vocab", vocab}}}}), "BPETokenizer requires merges");
    EXPECT_EQ(messageOf(fixtures::bpeData(vocab, {"a b", 3})), "BPETokenizer requires merges");
    EXPECT_EQ(messageOf(fixtures::bpeData(vocab, json::array({json::array({"a", 1})}))), "BPETokenizer requires merges");
    EXPECT_EQ(messageOf(fixtures::bpeData(vocab, "a b")), "BPETokenizer requires merges");
    EXPECT_EQ(messageOf({{"model", {{"merges", json::array()}}}}), "missingVocab");
    EXPECT_EQ(messageOf(fixtures::bpeData(json::array(), json::array())), "missingVocab");
    EXPECT_EQ(messageOf(fixtures::bpeData({{"a", "1"}}, json::array())), "missingVocab");
    EXPECT_EQ(messageOf(fixtures::bpeData({{"a", 1.5}}, json::array())), "missingVocab");
    try {
        BPETokenizer(Config(json::object()), Config(fixtures::bpeData({{"a", 1.5}}, json::array())), {});
    } catch (const TokenizerError& error) {
        EXPECT_EQ(error.kind(), TokenizerError::Kind::missingVocab);
    }
}

TEST(BPETokenizer, ByteLevelAlphabet)
{
    const auto& encoder = byteEncoder();
    EXPECT_EQ(encoder[0x41], "A");
    EXPECT_EQ(encoder[0x20], "\xC4\xA0"); // U+0120
    EXPECT_EQ(encoder[0x00], "\xC4\x80"); // U+0100
    EXPECT_EQ(encoder[0x0A], "\xC4\x8A"); // U+010A
    EXPECT_EQ(encoder[0x7F], "\xC4\xA1"); // U+0121
    EXPECT_EQ(encoder[0xAD], "\xC5\x83"); // U+0143
    EXPECT_EQ(byteDecoder().at("\xC5\x83"), 0xAD);
    std::set<std::string> distinct(encoder.begin(), encoder.end());
    EXPECT_EQ(distinct.size(), 256u);
    EXPECT_EQ(byteDecoder().size(), 256u);
    for (int byte = 0; byte < 256; ++byte) {
        ASSERT_EQ(byteDecoder().at(encoder[static_cast<std::size_t>(byte)]), byte);
    }
    EXPECT_EQ(byteForCharacter(U'\u0144'), std::nullopt);
    EXPECT_EQ(byteForCharacter(U' '), std::nullopt);

    EXPECT_EQ(BPETokenizer::byteFallbackTokens("\xE2\x82\xAC a"), (Strings {"<0xE2>", "<0x82>", "<0xAC>", "<0x20>", "<0x61>"}));
}
