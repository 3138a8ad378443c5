#include "Auris/Engine/TokenizerLoading.hpp"
#include "support/TemporaryDirectory.hpp"
#include "tools/make-model/WhisperTokenizerFiles.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using ml::WhisperTokenizerFiles;

namespace {

// Loads the files the way the engine does, from "models/openai/whisper-tiny" under the folder; the
// hub endpoint is a closed loopback port, so a file the engine rejects fails instead of downloading.
std::shared_ptr<const auris::WhisperTokenizer> writeAndLoad(const WhisperTokenizerFiles& files, const std::filesystem::path& folder)
{
    files.write(folder / "models/openai/whisper-tiny");
    const hub::HubApi offline(folder, std::nullopt, "http://127.0.0.1:9", false);
    return auris::loadTokenizer(auris::ModelVariant::tiny, offline);
}

} // namespace

TEST(WhisperTokenizerFiles, ControlTokensSitWhereWhisperVocabulariesHaveThem)
{
    struct Layout {
        int vocabularySize;
        auris::SpecialTokens expected;
        std::size_t languages;
        const char* lastLanguage;
    };
    // Multilingual, English-only, and large-v3 with Cantonese; the whitespace token is "Ġ" at 220.
    const Layout layouts[] = {
        {51865, {50257, 50259, 50362, 50363, 50257, 50361, 50258, 50364, 50359, 50358, 220}, 99, "<|su|>"},
        {51864, {50256, 50258, 50362, 50362, 50256, 50360, 50257, 50363, 50358, 50357, 220}, 99, "<|su|>"},
        {51866, {50257, 50259, 50363, 50364, 50257, 50362, 50258, 50365, 50360, 50359, 220}, 100, "<|yue|>"},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.vocabularySize);
        testsupport::TemporaryDirectory folder;
        const auto tokenizer = writeAndLoad(WhisperTokenizerFiles {.vocabularySize = layout.vocabularySize}, folder.path());
        auris::SpecialTokens found = tokenizer->specialTokens();
        if (layout.vocabularySize == 51864) {
            // English-only files call it "<|nocaptions|>", which the engine does not look up.
            EXPECT_EQ(tokenizer->knownTokenId("<|nocaptions|>"), 50361);
            found.noSpeechToken = layout.expected.noSpeechToken;
        }
        EXPECT_EQ(found, layout.expected);
        EXPECT_EQ(tokenizer->allLanguageTokens().size(), layout.languages);
        EXPECT_EQ(tokenizer->knownTokenId(layout.lastLanguage), layout.expected.translateToken - 1);
        EXPECT_EQ(tokenizer->convertIdToToken(layout.vocabularySize - 1), "<|30.00|>");
        EXPECT_EQ(tokenizer->convertIdToToken(layout.vocabularySize), std::nullopt);
    }
}

TEST(WhisperTokenizerFiles, EveryTextIdDecodesAndTextRoundTrips)
{
    testsupport::TemporaryDirectory folder;
    const auto tokenizer = writeAndLoad(WhisperTokenizerFiles {}, folder.path());
    const int endOfText = tokenizer->specialTokens().endToken;
    std::set<std::string> tokens;
    for (int id = 0; id < endOfText; ++id) {
        const auto token = tokenizer->convertIdToToken(id);
        ASSERT_TRUE(token) << id;
        EXPECT_FALSE(tokenizer->decode({id}).empty()) << id;
        tokens.insert(*token);
    }
    EXPECT_EQ(tokens.size(), static_cast<std::size_t>(endOfText));

    // Two-syllable words are whole tokens, so the merges chain up as byte-pair encoding expects.
    EXPECT_EQ(tokenizer->encode(" bako tu").size(), 2u);
    for (const std::string text : {"Hello world, this is Parlino.", " café 42 ünïcode", "bakotu-lime"}) {
        EXPECT_EQ(tokenizer->decode(tokenizer->encode(text)), text);
    }
}

TEST(WhisperTokenizerFiles, RejectsWhatCannotMakeATokenizer)
{
    testsupport::TemporaryDirectory folder;
    auto rejected = [&](const WhisperTokenizerFiles& files) {
        EXPECT_THROW(files.write(folder.path() / "out"), std::invalid_argument);
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "out"));
    };
    // 256 byte tokens and 1608 control tokens fit exactly; one less does not.
    const auto smallest = writeAndLoad(WhisperTokenizerFiles {.vocabularySize = 1864}, folder.path());
    EXPECT_EQ(smallest->specialTokens().endToken, 256);
    EXPECT_EQ(smallest->decode(smallest->encode("ok")), "ok");
    rejected({.vocabularySize = 1863});
    rejected({.vocabularySize = 1864, .merges = {"o k"}});
    rejected({.vocabularySize = (1 << 22) + 1});
    rejected({.listedLanguages = 100});
    rejected({.listedLanguages = -1});
    for (const char* merge : {"ok", "o  k", " o k", "o k ", "o q9", "o k"}) {
        SCOPED_TRACE(merge);
        // The last one repeats the first merge.
        rejected({.merges = {"o k", merge}});
    }
}
