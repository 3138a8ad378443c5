#include "Auris/Core/WhisperError.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Text/WhisperTokenizerWrapper.hpp"

#include "Auris/Text/FakeTokenizer.hpp"
#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/TokenizerFixtures.hpp"

#include <gtest/gtest.h>

using namespace auris;
using testsupport::FakeTokenizer;

namespace {

WhisperTokenizerWrapper wrap(std::map<int, std::string> vocabulary, WhisperTokenizerWrapper::LanguageGuess guess = {})
{
    return WhisperTokenizerWrapper(std::make_shared<FakeTokenizer>(std::move(vocabulary)), std::move(guess));
}

WhisperTokenizerWrapper::LanguageGuess always(std::optional<std::string> code)
{
    return [code](const std::string&) { return code; };
}

// Vocabulary: text tokens below 100, the end token at 100 and control tokens above it.
const std::map<int, std::string> words {
    {1, " Hello"}, {2, " world"}, {3, ","}, {4, "ing"}, {5, " you"}, {6, "\xC3"}, {7, "\xA9"}, {8, "\xFF"},
    {9, "\xE4\xBD"}, {10, "\xA0"}, {11, "\xE5\xA5\xBD"}, {12, "\xE0\xB8\xAA\xE0\xB8\xA7"},
    {100, "<|endoftext|>"}, {101, "<|0.00|>"},
};

} // namespace

TEST(WhisperTokenizerWrapper, SpecialTokensFallBackAndLanguageTokensAreFiltered)
{
    const auto bare = wrap({{1, "a"}});
    EXPECT_EQ(bare.specialTokens(), SpecialTokens {});
    EXPECT_EQ(bare.specialTokens().whitespaceToken, 220);
    EXPECT_TRUE(bare.allLanguageTokens().empty());

    const auto known = wrap({{40, "<|en|>"}, {100, "<|endoftext|>"}, {101, "<|de|>"}, {102, "<|jw|>"}, {103, "<|haw|>"},
        {104, "<|yue|>"}, {105, "<|xx|>"}, {106, "<|startoftranscript|>"}, {9, " "}});
    EXPECT_EQ(known.specialTokens().endToken, 100);
    EXPECT_EQ(known.specialTokens().specialTokenBegin, 100);
    EXPECT_EQ(known.specialTokens().englishToken, 40);
    EXPECT_EQ(known.specialTokens().startOfTranscriptToken, 106);
    EXPECT_EQ(known.specialTokens().whitespaceToken, 9);
    EXPECT_EQ(known.specialTokens().timeTokenBegin, 50364);
    // "<|en|>" is not above the end token, and "<|xx|>" is no language.
    EXPECT_EQ(known.allLanguageTokens(), (std::set<int> {101, 102, 103, 104}));

    // Everything else forwards to the wrapped tokenizer.
    EXPECT_EQ(known.decode({101, 102}), "<|de|><|jw|>");
    EXPECT_EQ(known.convertTokensToIds({"<|de|>", "nope"}), (std::vector<std::optional<int>> {101, std::nullopt}));
    EXPECT_EQ(known.convertIdToToken(103), "<|haw|>");

    EXPECT_THROW(WhisperTokenizerWrapper(nullptr), WhisperError);
}

TEST(WhisperTokenizerWrapper, ControlTokensMissingFromTheVocabularyTakeTheirFallbacks)
{
    // Whisper's unknown token is "<|endoftext|>", and this vocabulary has "<|nocaptions|>" but no
    // "<|nospeech|>" and, being byte-level, no plain blank: neither may become the end token.
    const auto tokenizer = tokenizers::AutoTokenizer::from(
        hub::Config(fixtures::whisperTokenizerConfig()), hub::Config(fixtures::whisperTokenizerData()));
    ASSERT_EQ(tokenizer->unknownToken(), "<|endoftext|>");
    const WhisperTokenizerWrapper wrapper(tokenizer, always("en"));
    const SpecialTokens& special = wrapper.specialTokens();
    EXPECT_EQ(special.noSpeechToken, 50362);
    EXPECT_EQ(special.whitespaceToken, 220);
    EXPECT_EQ(special.endToken, 50257);
    EXPECT_EQ(special.startOfTranscriptToken, 50258);
    EXPECT_EQ(special.timeTokenBegin, 50364);
    EXPECT_EQ(wrapper.allLanguageTokens(), (std::set<int> {50259, 50260, 50261, 50262, 50263, 50264, 50265, 50266}));
    EXPECT_EQ(wrapper.knownTokenId("<|nospeech|>"), std::nullopt);
    EXPECT_EQ(wrapper.convertTokenToId("<|nospeech|>"), 50257);
}

TEST(WhisperTokenizerWrapper, SpaceSplitJoinsPiecesIntoWords)
{
    const auto tokenizer = wrap(words, always("en"));
    // Two words with leading blanks, then a lone comma: three words.
    EXPECT_EQ(tokenizer.splitIntoWords({1, 2, 3}),
        (WordSplit {{" Hello", " world", ","}, {{1}, {2}, {3}}}));
    // A piece without a blank that is not punctuation joins the word before it, text and ids.
    EXPECT_EQ(tokenizer.splitIntoWords({1, 4, 5, 101}),
        (WordSplit {{" Helloing", " you", "<|0.00|>"}, {{1, 4}, {5}, {101}}}));
    // A first piece without a blank still starts a word.
    EXPECT_EQ(tokenizer.splitIntoWords({4, 1}), (WordSplit {{"ing", " Hello"}, {{4}, {1}}}));
    // A character cut over two tokens joins the word once it is complete.
    EXPECT_EQ(tokenizer.splitIntoWords({5, 6, 7}), (WordSplit {{" you\xC3\xA9"}, {{5, 6, 7}}}));
    EXPECT_EQ(tokenizer.splitIntoWords({}), WordSplit {});
}

TEST(WhisperTokenizerWrapper, CharacterSplitFollowsTheRecognisedLanguage)
{
    // The platform recogniser sees Han text and splits per character; "你" spans two tokens.
    const auto recognised = wrap(words);
    EXPECT_EQ(recognised.splitIntoWords({9, 10, 11}),
        (WordSplit {{"\xE4\xBD\xA0", "\xE5\xA5\xBD"}, {{9, 10}, {11}}}));
    // Thai is written without spaces as well.
    EXPECT_EQ(recognised.splitIntoWords({12, 12}).words.size(), 2u);

    // Per character: " Hello" and "ing" stay apart; at spaces they join.
    for (const char* code : {"zh", "ja", "th", "lo", "my", "yue"}) {
        EXPECT_EQ(wrap(words, always(code)).splitIntoWords({1, 4}).words.size(), 2u) << code;
    }
    for (std::optional<std::string> code : {std::optional<std::string> {"zh-Hant"}, std::optional<std::string> {"ko"},
             std::optional<std::string> {}}) {
        EXPECT_EQ(wrap(words, always(code)).splitIntoWords({1, 4}).words.size(), 1u) << code.value_or("none");
    }
    EXPECT_EQ(wrap(words, always("zh")).splitIntoWords({}), WordSplit {});

    // A replacement character that the full text itself holds ends its piece; nothing after it is lost.
    const auto unicode = wrap(words).splitTokensOnUnicode({1, 8, 2, 8});
    EXPECT_EQ(unicode.wordTokens, (std::vector<std::vector<int>> {{1}, {8}, {2}, {8}}));
    // Ids of a character that never completes are kept with the broken text the full text shows.
    EXPECT_EQ(wrap(words).splitTokensOnUnicode({1, 6}).wordTokens, (std::vector<std::vector<int>> {{1}, {6}}));
}

TEST(Constants, LanguageTable)
{
    EXPECT_EQ(Constants::languages().size(), 112u);
    EXPECT_EQ(Constants::languageCodes().size(), 100u);
    EXPECT_EQ(Constants::languages().at("haitian creole"), "ht");
    EXPECT_EQ(Constants::languages().at("mandarin"), "zh");
    EXPECT_EQ(Constants::languages().at("slovak"), "sk");
    for (const char* code : {"jw", "haw", "yue", "en"}) {
        EXPECT_TRUE(Constants::languageCodes().contains(code)) << code;
    }
    EXPECT_EQ(Constants::maxTokenContext, 224);
}
