#include "Tokenizers/Normalizers.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;

namespace {

std::string normalize(const json& section, const std::string& text)
{
    auto normalizer = makeNormalizer(Config(section));
    return normalizer->normalize(text);
}

const std::string lowLine = "\xE2\x96\x81"; // U+2581

} // namespace

TEST(Normalizers, PrependReplaceAndSequence)
{
    EXPECT_EQ(normalize({{"type", "Prepend"}, {"prepend", lowLine}}, "hello"), lowLine + "hello");
    EXPECT_EQ(normalize({{"type", "Prepend"}, {"prepend", lowLine}}, ""), lowLine);
    EXPECT_EQ(normalize({{"type", "Prepend"}, {"prepend", lowLine}}, lowLine + "x"), lowLine + lowLine + "x");

    EXPECT_EQ(normalize({{"type", "Replace"}, {"pattern", {{"String", " "}}}, {"content", lowLine}}, "a b"), "a" + lowLine + "b");
    EXPECT_EQ(normalize({{"type", "Replace"}, {"pattern", {{"Regex", "(\\d)(\\w)"}}}, {"content", "$2$1"}}, "1a 2b"), "a1 b2");
    // Without content or a usable pattern the text stays as it is.
    EXPECT_EQ(normalize({{"type", "Replace"}, {"pattern", {{"String", " "}}}}, "a b"), "a b");
    EXPECT_EQ(normalize({{"type", "Replace"}, {"pattern", {{"Other", " "}}}, {"content", "x"}}, "a b"), "a b");

    const json sequence = {{"type", "Sequence"},
        {"normalizers", {{{"type", "Lowercase"}}, {{"no", "type"}}, {{"type", "Prepend"}, {"prepend", "> "}}}}};
    EXPECT_EQ(normalize(sequence, "HeLLo"), "> hello");
    EXPECT_EQ(normalize({{"type", "Sequence"}, {"normalizers", json::array()}}, "As Is"), "As Is");

    EXPECT_EQ(makeNormalizer(std::nullopt), nullptr);
    EXPECT_EQ(makeNormalizer(Config(json {{"type", 3}})), nullptr);
}

TEST(Normalizers, UnicodeForms)
{
    const std::string precomposed = "caf\xC3\xA9";
    const std::string decomposed = "cafe\xCC\x81";
    EXPECT_EQ(normalize({{"type", "NFC"}}, decomposed), precomposed);
    EXPECT_EQ(normalize({{"type", "NFD"}}, precomposed), decomposed);
    EXPECT_EQ(normalize({{"type", "NFKC"}}, "\xEF\xAC\x81"), "fi");
    EXPECT_EQ(normalize({{"type", "NFKD"}}, "\xC3\xA9\xEF\xAC\x81"), "e\xCC\x81" "fi");
    EXPECT_EQ(normalize({{"type", "Lowercase"}}, "\xC3\x89" "COLE"), "\xC3\xA9" "cole");

    // Accent stripping removes the marks and keeps the letters; compatibility forms fold.
    EXPECT_EQ(normalize({{"type", "StripAccents"}}, precomposed), "cafe");
    EXPECT_EQ(normalize({{"type", "StripAccents"}}, decomposed), "cafe");
    EXPECT_EQ(normalize({{"type", "StripAccents"}}, "\xEF\xAC\x81"), "fi");
    EXPECT_EQ(normalize({{"type", "StripAccents"}}, "\xED\x95\x9C"), "\xED\x95\x9C"); // Hangul stays composed
}

TEST(Normalizers, BertSteps)
{
    EXPECT_EQ(normalize({{"type", "Bert"}}, "Ab\tC"), "ab c");
    EXPECT_EQ(normalize({{"type", "Bert"}}, "a\r\nb"), "a b");
    EXPECT_EQ(normalize({{"type", "Bert"}}, "\xE4\xB8\xAD\xE6\x96\x87"), " \xE4\xB8\xAD  \xE6\x96\x87 ");
    EXPECT_EQ(normalize({{"type", "Bert"}, {"clean_text", false}, {"handle_chinese_chars", false}, {"lowercase", false}},
                  "Ab\t\xE4\xB8\xAD"),
        "Ab\t\xE4\xB8\xAD");
    // Non-Boolean settings keep their defaults.
    EXPECT_EQ(normalize({{"type", "Bert"}, {"lowercase", "no"}}, "AB"), "ab");
    EXPECT_EQ(normalize({{"type", "Bert"}, {"strip_accents", true}}, "Caf\xC3\xA9"), "cafe");
    EXPECT_EQ(normalize({{"type", "Bert"}}, "Caf\xC3\xA9"), "caf\xC3\xA9");
}

TEST(Normalizers, Precompiled)
{
    EXPECT_EQ(normalize({{"type", "Precompiled"}, {"precompiled_charsmap", "ignored"}}, "a\xE2\x80\x8B" "b"), "a b");
    EXPECT_EQ(normalize({{"type", "Precompiled"}}, "a\x07" "b\tc"), "ab c");
    EXPECT_EQ(normalize({{"type", "Precompiled"}}, std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(normalize({{"type", "Precompiled"}}, "\xEF\xBC\xA1\xEF\xBD\x9E\xEF\xBC\xA1"), "A\xEF\xBD\x9E" "A");
    EXPECT_EQ(normalize({{"type", "Precompiled"}}, "\xEF\xBD\x9E\xEF\xBD\x9E"), "\xEF\xBD\x9E\xEF\xBD\x9E");
}

TEST(Normalizers, ConfigurationErrors)
{
    EXPECT_EQ(configurationMessage([] { makeNormalizer(Config(json {{"type", "Mystery"}})); }), "Unsupported Normalizer type: Mystery");
    EXPECT_EQ(configurationMessage([] { makeNormalizer(Config(json {{"type", ""}})); }), "Unsupported Normalizer type: ");
    EXPECT_EQ(configurationMessage([] { makeNormalizer(Config(json {{"type", "Sequence"}})); }), "No normalizers in Sequence");
    EXPECT_EQ(configurationMessage([] {
        makeNormalizer(Config(json {{"type", "Sequence"}, {"normalizers", {{{"type", "Nope"}}}}}));
    }),
        "Unsupported Normalizer type: Nope");
    EXPECT_EQ(configurationMessage([] {
        makeNormalizer(Config(json {{"type", "Replace"}, {"pattern", {{"Regex", "(unclosed"}}}, {"content", ""}}));
    }),
        "Cannot build regexp from (unclosed");
}
