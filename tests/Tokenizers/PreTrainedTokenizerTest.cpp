#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/PreTrainedTokenizer.hpp"

#include "StagesTestSupport.hpp"
#include "TokenizerFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <thread>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Ids = std::vector<int>;

namespace {

std::shared_ptr<Tokenizer> whisper(json config = fixtures::whisperTokenizerConfig())
{
    return AutoTokenizer::from(Config(std::move(config)), Config(fixtures::whisperTokenizerData()));
}

const std::vector<std::string>& roundTripTexts()
{
    static const std::vector<std::string> texts {
        "Hello world",
        "The quick brown fox jumps over the lazy dog 1234567890",
        "caf\xC3\xA9 na\xC3\xAFve \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC3\xB4\xC5\x88",
        "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C \xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF",
        "emoji \xF0\x9F\x98\x80\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 \xF0\x9F\x87\xB8\xF0\x9F\x87\xB0",
        "tabs\tand\nnew\r\nlines\n\n",
        "   runs    of  blanks   ",
        " leading blank",
        "",
        "e\xCC\x81 decomposed",
        "<|endoftext|> looks special but is text",
    };
    return texts;
}

} // namespace

TEST(PreTrainedTokenizer, WhisperEncodingsMatchHandCheckedIds)
{
    const auto tokenizer = whisper();
    EXPECT_EQ(tokenizer->encode("Hello world"), (Ids {262, 267}));
    EXPECT_EQ((*tokenizer)("Hello world"), tokenizer->encode("Hello world"));
    EXPECT_EQ(tokenizer->tokenize("Hello world"), (std::vector<std::string> {"Hello", "\xC4\xA0world"}));
    EXPECT_EQ(tokenizer->encode("the"), (Ids {83, 257}));
    // " café": é merges first, then c+a, ca+f, caf+é; the blank is left alone.
    EXPECT_EQ(tokenizer->encode(" the caf\xC3\xA9 is"), (Ids {258, 220, 271, 276}));
    EXPECT_EQ(tokenizer->encode("\tHi\n"), (Ids {197, 39, 72, 198}));
    EXPECT_EQ(tokenizer->encode("  is"), (Ids {220, 276}));
    EXPECT_EQ(tokenizer->encode("\xC3\xA9"), (Ids {268}));
    EXPECT_EQ(fixtures::baseId(' '), 220);
    EXPECT_EQ(fixtures::baseId('!'), 0);
}

TEST(PreTrainedTokenizer, RoundTripsAnyText)
{
    json config = fixtures::whisperTokenizerConfig();
    config["clean_up_tokenization_spaces"] = false;
    const auto exact = whisper(config);
    for (const auto& text : roundTripTexts()) {
        EXPECT_EQ(exact->decode(exact->encode(text)), text) << text;
    }
    // Clean-up only touches blanks before punctuation and contractions.
    const auto tidy = whisper();
    for (const auto& text : roundTripTexts()) {
        EXPECT_EQ(tidy->decode(tidy->encode(text)), text) << text;
    }
    EXPECT_EQ(tidy->decode(tidy->encode("Hello , world ! it ' s")), "Hello, world! it's");
    EXPECT_EQ(exact->decode(exact->encode("Hello , world !")), "Hello , world !");
    // Ill-formed input is read as U+FFFD rather than rejected.
    EXPECT_EQ(exact->decode(exact->encode("a\xFF" "b")), "a\xEF\xBF\xBD" "b");
}

TEST(PreTrainedTokenizer, SpecialTokensDecodeAsThemselves)
{
    const auto tokenizer = whisper();
    EXPECT_EQ(tokenizer->decode({50258, 50259, 50359, 50363, 262, 267, 50257}),
        "<|startoftranscript|><|en|><|transcribe|><|notimestamps|>Hello world<|endoftext|>");
    EXPECT_EQ(tokenizer->decode({50364, 262, 50414}), "<|0.00|>Hello<|1.00|>");
    EXPECT_EQ(tokenizer->decode({}), "");
    EXPECT_EQ(tokenizer->decode({262, 999999, -1}), "Hello"); // ids outside the vocabulary are left out

    EXPECT_EQ(tokenizer->convertTokenToId("<|endoftext|>"), 50257);
    EXPECT_EQ(tokenizer->convertTokenToId("<|startoftranscript|>"), 50258);
    EXPECT_EQ(tokenizer->convertTokenToId("<|30.00|>"), 51864);
    EXPECT_EQ(tokenizer->convertIdToToken(50363), "<|notimestamps|>");
    // The unknown token is <|endoftext|>: a control token the vocabulary lacks must stay visible.
    EXPECT_EQ(tokenizer->unknownToken(), "<|endoftext|>");
    EXPECT_EQ(tokenizer->convertTokenToId("<|nospeech|>"), 50257);
    EXPECT_EQ(tokenizer->knownTokenId("<|nospeech|>"), std::nullopt);
    EXPECT_EQ(tokenizer->knownTokenId("<|nocaptions|>"), 50362);
    EXPECT_EQ(tokenizer->knownTokenId("<|endoftext|>"), 50257);
    EXPECT_EQ(tokenizer->eosToken(), std::nullopt); // written as an object in the configuration

    const auto& pretrained = dynamic_cast<const PreTrainedTokenizer&>(*tokenizer);
    EXPECT_EQ(pretrained.specialTokens().at("<|en|>"), 50259);
    EXPECT_TRUE(pretrained.addedTokens().contains("<|0.02|>"));
    EXPECT_EQ(pretrained.preTokenize("a b").size(), 2u);
}

TEST(PreTrainedTokenizer, ClassTableAndConfigurationErrors)
{
    EXPECT_NO_THROW(whisper(fixtures::whisperTokenizerConfig("WhisperTokenizerFast")));
    EXPECT_NO_THROW(whisper(fixtures::whisperTokenizerConfig("GPT2TokenizerFast")));
    EXPECT_NO_THROW(whisper(fixtures::whisperTokenizerConfig("PreTrainedTokenizerFast")));
    try {
        whisper(fixtures::whisperTokenizerConfig("Qwen2TokenizerFast"));
        FAIL();
    } catch (const TokenizerError& error) {
        EXPECT_EQ(error.kind(), TokenizerError::Kind::unsupportedTokenizer);
        EXPECT_EQ(error.payload(), "Qwen2Tokenizer");
    }
    EXPECT_EQ(configurationMessage([] { whisper(fixtures::whisperTokenizerConfig("gpt2tokenizer")); }),
        "unsupportedTokenizer(\"gpt2tokenizer\")");
    json noClass = fixtures::whisperTokenizerConfig();
    noClass.erase("tokenizer_class");
    EXPECT_EQ(configurationMessage([&] { whisper(noClass); }), "missingTokenizerClassInConfig");
    noClass["tokenizer_class"] = 7;
    EXPECT_EQ(configurationMessage([&] { whisper(noClass); }), "missingTokenizerClassInConfig");

    auto withSections = [](json changes) {
        return [changes] {
            json data = fixtures::whisperTokenizerData();
            data.update(changes);
            AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(data));
        };
    };
    // The pre-tokenizer is built first, so its error is the one reported.
    EXPECT_EQ(configurationMessage(withSections({{"pre_tokenizer", {{"type", "A"}}}, {"normalizer", {{"type", "B"}}}})),
        "Unsupported PreTokenizer type: A");
    EXPECT_EQ(configurationMessage(withSections({{"normalizer", {{"type", "B"}}}, {"decoder", {{"type", "C"}}}})),
        "Unsupported Normalizer type: B");
    EXPECT_EQ(configurationMessage(withSections({{"post_processor", {{"type", "D"}}}})), "Unsupported PostProcessor type: D");
    EXPECT_EQ(configurationMessage(withSections({{"decoder", {{"type", "C"}}}})), "Unsupported Decoder type: C");
    EXPECT_EQ(configurationMessage(withSections({{"model", {{"vocab", json::object()}}}})), "BPETokenizer requires merges");
    EXPECT_EQ(configurationMessage(withSections({{"model", {{"merges", json::array()}}}})), "missingVocab");
    // A stage's configuration error comes before the class name is looked at.
    EXPECT_EQ(configurationMessage([] {
        json data = fixtures::whisperTokenizerData();
        data["decoder"] = {{"type", "Nope"}};
        AutoTokenizer::from(Config(json::object()), Config(data));
    }),
        "Unsupported Decoder type: Nope");
}

TEST(PreTrainedTokenizer, AddedTokensPostProcessingAndSettings)
{
    json data = fixtures::bpeData({{"a", 0}, {"b", 1}, {"ab", 2}, {"<s>", 3}, {"</s>", 4}}, {"a b"});
    data["added_tokens"] = {{{"id", 5}, {"content", "<x>"}}, {{"id", 7}, {"content", "<x>"}, {"special", false}},
        {{"id", "8"}, {"content", "<bad>"}}, {{"id", 9}}, {{"id", 10}, {"content", "<sp>"}, {"special", true}}, 3};
    data["post_processor"] = {{"type", "TemplateProcessing"},
        {"single", {{{"SpecialToken", {{"id", "<s>"}}}}, {{"Sequence", {{"id", "A"}}}}, {{"SpecialToken", {{"id", "</s>"}}}}}},
        {"pair", json::array()}};
    const PreTrainedTokenizer tokenizer(Config(json {{"tokenizer_class", "LlamaTokenizer"}, {"clean_up_tokenization_spaces", "no"}}), Config(data));
    EXPECT_EQ(tokenizer.convertTokenToId("<x>"), 7);
    EXPECT_EQ(tokenizer.addedTokens(), (std::set<std::string> {"<sp>", "<x>"}));
    EXPECT_EQ(tokenizer.specialTokens(), (std::map<std::string, int> {{"<sp>", 10}}));
    EXPECT_TRUE(tokenizer.cleanUpTokenizationSpaces());
    // Without pre-tokenizer the model sees the whole text once; blanks separate symbols.
    EXPECT_EQ(tokenizer.tokenize("ab ab"), (std::vector<std::string> {"ab", "ab"}));
    EXPECT_EQ(tokenizer.encode("ab ab"), (Ids {3, 2, 2, 4}));
    // A byte token the vocabulary lacks, with no unknown token to stand in, is left out.
    EXPECT_EQ(tokenizer.encode("abc"), (Ids {3, 2, 4}));
    EXPECT_EQ(tokenizer.decode({3, 2, 4, 7}), "<s>ab</s><x>");
}

TEST(PreTrainedTokenizer, EncodeGivesTheIdsOfItsTokens)
{
    // Byte-level vocabularies lacking some characters: symbols outside the vocabulary fall back to
    // byte tokens, which take the unknown id or, without an unknown token, are left out.
    json partial = fixtures::whisperTokenizerData();
    partial["model"]["vocab"].erase("\xC4\xA0"); // the blank's character
    partial["model"]["vocab"].erase("he");
    partial["model"]["vocab"]["<0x41>"] = 9000;
    json noUnknown = fixtures::whisperTokenizerConfig();
    noUnknown.erase("unk_token");
    json templated = fixtures::whisperTokenizerData();
    templated["post_processor"] = {{"type", "TemplateProcessing"},
        {"single", {{{"SpecialToken", {{"id", "<|startoftranscript|>"}}}}, {{"Sequence", {{"id", "A"}}}}}}, {"pair", json::array()}};
    const std::vector<std::shared_ptr<Tokenizer>> tokenizers {
        whisper(),
        AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(partial)),
        AutoTokenizer::from(Config(noUnknown), Config(partial)),
        AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(templated)),
    };
    std::vector<std::string> texts = roundTripTexts();
    texts.push_back(std::string(100, 'l') + " the hello world " + std::string(40, ' ') + "A");
    for (std::size_t t = 0; t < tokenizers.size(); ++t) {
        const auto& tokenizer = *tokenizers[t];
        for (const auto& text : texts) {
            std::vector<std::string> tokens = tokenizer.tokenize(text);
            if (t == 3) {
                tokens.insert(tokens.begin(), "<|startoftranscript|>");
            }
            Ids expected;
            for (const auto& id : tokenizer.convertTokensToIds(tokens)) {
                if (id) {
                    expected.push_back(*id);
                }
            }
            EXPECT_EQ(tokenizer.encode(text), expected) << "tokenizer " << t << " text " << text;
        }
    }
    EXPECT_EQ(tokenizers[1]->encode(" the a"), (Ids {258, 50257, 50257, 64})); // "Ġ" as <0xC4> <0xA0>, both unknown
    EXPECT_EQ(tokenizers[2]->encode(" the a"), (Ids {258, 64}));
    EXPECT_EQ(tokenizers[1]->tokenize("he"), (std::vector<std::string> {"<0x68>", "<0x65>"}));
}

TEST(PreTrainedTokenizer, LoadsFromAFolder)
{
    testsupport::TemporaryDirectory folder;
    fixtures::writeWhisperTokenizerFolder(folder.path());
    const auto tokenizer = AutoTokenizer::from(folder.path());
    EXPECT_EQ(tokenizer->encode("Hello world"), (Ids {262, 267}));

    // Without a tokenizer configuration the model type's compiled-in fallback serves.
    std::filesystem::remove(folder / "tokenizer_config.json");
    EXPECT_EQ(AutoTokenizer::from(folder.path())->convertTokenToId("<|nospeech|>"), 50257);

    testsupport::writeFile(folder / "config.json", R"({"model_type": "unheard_of"})");
    EXPECT_EQ(configurationMessage([&] { AutoTokenizer::from(folder.path()); }), "missingConfig");

    testsupport::writeFile(folder / "tokenizer.json", "{ not json");
    EXPECT_THROW(AutoTokenizer::from(folder.path()), std::runtime_error);
    std::filesystem::remove(folder / "tokenizer.json");
    EXPECT_THROW(AutoTokenizer::from(folder.path()), std::runtime_error);
}

TEST(PreTrainedTokenizer, LoadingAndCodingFromSeveralThreads)
{
    const Config config(fixtures::whisperTokenizerConfig());
    const Config data(fixtures::whisperTokenizerData());
    const auto shared = AutoTokenizer::from(config, data);
    std::vector<Ids> expected;
    for (const auto& text : roundTripTexts()) {
        expected.push_back(shared->encode(text));
    }

    constexpr int threadCount = 6;
    std::vector<int> failures(threadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            // Half the threads build their own tokenizer from the shared documents meanwhile.
            const auto own = t % 2 ? AutoTokenizer::from(config, data) : shared;
            for (int round = 0; round < 5; ++round) {
                for (std::size_t i = 0; i < expected.size(); ++i) {
                    const auto ids = own->encode(roundTripTexts()[i]);
                    failures[t] += ids != expected[i];
                    failures[t] += shared->decode(ids) != shared->decode(expected[i]);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(threadCount, 0));
}

TEST(PreTrainedTokenizer, DeeplyNestedSequencesAreRefused)
{
    json decoder = {{"type", "Fuse"}};
    for (int depth = 0; depth < 200; ++depth) {
        decoder = {{"type", "Sequence"}, {"decoders", json::array({decoder})}};
    }
    json data = fixtures::whisperTokenizerData();
    data["decoder"] = decoder;
    EXPECT_EQ(configurationMessage([&] { AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(data)); }),
        "Tokenizer stages nested too deeply");
    // Moderate nesting is fine.
    json shallow = {{"type", "ByteLevel"}};
    for (int depth = 0; depth < 20; ++depth) {
        shallow = {{"type", "Sequence"}, {"decoders", json::array({shallow})}};
    }
    data["decoder"] = shallow;
    EXPECT_EQ(AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(data))->decode({262}), "Hello");
}

TEST(PreTrainedTokenizer, BacktrackingPatternsFailNamingThePatternInsteadOfSpinning)
{
    const json pattern = {{"Regex", "(a+)+$"}};
    const std::string hostile = std::string(40, 'a') + "!";
    auto messageOf = [&](const std::string& stage, const json& section, bool decoding) {
        json data = fixtures::whisperTokenizerData();
        data[stage] = section;
        const auto tokenizer = AutoTokenizer::from(Config(fixtures::whisperTokenizerConfig()), Config(data));
        const auto ids = whisper()->encode(hostile);
        return configurationMessage([&] { decoding ? (void)tokenizer->decode(ids) : (void)tokenizer->encode(hostile); });
    };
    const std::string expected = "The regular expression \"(a+)+$\" ran past its time limit";
    EXPECT_TRUE(messageOf("normalizer", {{"type", "Replace"}, {"pattern", pattern}, {"content", ""}}, false).starts_with(expected));
    EXPECT_TRUE(messageOf("decoder", {{"type", "Sequence"}, {"decoders", {{{"type", "ByteLevel"}},
        {{"type", "Replace"}, {"pattern", pattern}, {"content", ""}}}}}, true).starts_with(expected));
    EXPECT_TRUE(messageOf("pre_tokenizer", {{"type", "Split"}, {"pattern", pattern}, {"behavior", "Isolated"}}, false)
                    .starts_with(expected));
    EXPECT_TRUE(messageOf("pre_tokenizer", {{"type", "Metaspace"}, {"replacement", "(a+)+$"}}, false).starts_with(expected));
}
