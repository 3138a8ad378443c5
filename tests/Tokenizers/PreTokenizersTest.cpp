#include "Tokenizers/PreTokenizers.hpp"
#include "Tokenizers/StringSplit.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

Strings preTokenize(const json& section, const std::string& text)
{
    return makePreTokenizer(Config(section))->preTokenize(text);
}

const std::string lowLine = "\xE2\x96\x81";
const std::string blankCharacter = "\xC4\xA0"; // the byte-level character of the blank

} // namespace

TEST(PreTokenizers, ByteLevel)
{
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}}, "Hello world"), (Strings {"Hello", blankCharacter + "world"}));
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}}, "it's  2 \xC3\xA9\n"),
        (Strings {"it", "'s", blankCharacter, blankCharacter + "2", blankCharacter + "\xC3\x83\xC2\xA9", "\xC4\x8A"}));
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}, {"use_regex", false}}, "a b"), (Strings {"a" + blankCharacter + "b"}));
    // The prefix blank goes before the first piece only.
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}, {"add_prefix_space", true}}, "Hello world"),
        (Strings {blankCharacter + "Hello", blankCharacter + "world"}));
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}, {"add_prefix_space", true}}, " x"), (Strings {blankCharacter + "x"}));
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}, {"add_prefix_space", true}}, ""), Strings {});
    // Ill-formed bytes are read as U+FFFD and never crash.
    EXPECT_EQ(preTokenize({{"type", "ByteLevel"}}, "\xFF").size(), 1u);
}

TEST(PreTokenizers, RegexClasses)
{
    EXPECT_EQ(preTokenize({{"type", "Whitespace"}}, " ab  c\td "), (Strings {"ab", "c", "d"}));
    EXPECT_EQ(preTokenize({{"type", "WhitespaceSplit"}}, "   "), Strings {});
    EXPECT_EQ(preTokenize({{"type", "Digits"}, {"individual_digits", false}}, "abc123"), (Strings {"abc", "123"}));
    EXPECT_EQ(preTokenize({{"type", "Digits"}, {"individual_digits", true}}, "abc123"), (Strings {"abc", "1", "2", "3"}));
    EXPECT_EQ(preTokenize({{"type", "Digits"}}, "a1b"), (Strings {"a", "1", "b"}));
    EXPECT_EQ(preTokenize({{"type", "Punctuation"}}, "Hi, there!?$x"), (Strings {"Hi", ",", " there", "!?$", "x"}));
    EXPECT_EQ(preTokenize({{"type", "Sequence"}, {"pretokenizers", {{{"type", "Whitespace"}}, {{"type", "Digits"}}}}}, "ab12 cd"),
        (Strings {"ab", "12", "cd"}));
    EXPECT_EQ(preTokenize({{"type", "Sequence"}, {"pretokenizers", json::array()}}, "a b"), Strings {"a b"});
}

TEST(PreTokenizers, MetaspaceAndSplit)
{
    const json metaspace = {{"type", "Metaspace"}, {"replacement", lowLine}, {"add_prefix_space", true}};
    EXPECT_EQ(preTokenize(metaspace, "hello world"), (Strings {lowLine + "hello", lowLine + "world"}));
    EXPECT_EQ(preTokenize(metaspace, lowLine + "hi"), Strings {lowLine + "hi"});
    json never = metaspace;
    never["prepend_scheme"] = "never";
    EXPECT_EQ(preTokenize(never, "hello world"), (Strings {"hello", lowLine + "world"}));
    EXPECT_EQ(preTokenize({{"type", "Metaspace"}}, "a b"), (Strings {"a", " b"}));

    const json hyphen = {{"type", "Split"}, {"pattern", {{"String", "-"}}}};
    EXPECT_EQ(preTokenize(hyphen, "a-b"), (Strings {"a", "-", "b"}));
    EXPECT_EQ(preTokenize(hyphen, "a-"), (Strings {"a", "-", ""}));
    EXPECT_EQ(preTokenize(hyphen, "ab"), Strings {"ab"});
    json inverted = hyphen;
    inverted["invert"] = true;
    EXPECT_EQ(preTokenize(inverted, "a-b"), (Strings {"a", "b"}));
    EXPECT_EQ(preTokenize({{"type", "Split"}, {"pattern", {{"Regex", "\\d+"}}}}, "a12b3"), (Strings {"a", "12", "b", "3", ""}));
    EXPECT_EQ(preTokenize({{"type", "Split"}}, "a-b"), Strings {"a-b"});
    // A pattern that matches the empty string moves on instead of looping.
    EXPECT_EQ(preTokenize({{"type", "Split"}, {"pattern", {{"Regex", "x*"}}}, {"invert", true}}, "ab"), (Strings {"a", "b", ""}));
}

TEST(PreTokenizers, SplitBehaviors)
{
    using B = SplitDelimiterBehavior;
    const auto literal = SplitMatching::literal;
    EXPECT_EQ(split("a-b--c", "-", literal, B::removed), (Strings {"a", "b", "c"}));
    EXPECT_EQ(split("a-b-", "-", literal, B::isolated), (Strings {"a", "-", "b", "-", ""}));
    EXPECT_EQ(split("a-b-c", "-", literal, B::mergedWithPrevious), (Strings {"a-", "b-", "c"}));
    EXPECT_EQ(split("-a-b", "-", literal, B::mergedWithNext), (Strings {"-a", "-b"}));
    EXPECT_EQ(split("ab", "-", literal, B::mergedWithNext), Strings {"ab"});
    EXPECT_EQ(split("", "-", literal, B::mergedWithNext), Strings {});
    EXPECT_EQ(split("", "-", literal, B::mergedWithPrevious), Strings {});
    EXPECT_EQ(split("", "-", literal, B::removed), Strings {""});
    EXPECT_EQ(split("a1b22", "\\d+", SplitMatching::regularExpression, B::mergedWithPrevious), (Strings {"a1", "b22"}));
}

TEST(PreTokenizers, ConfigurationErrors)
{
    EXPECT_EQ(configurationMessage([] { makePreTokenizer(Config(json {{"type", "BertPreTokenizer"}})); }),
        "Unsupported PreTokenizer type: BertPreTokenizer");
    EXPECT_EQ(configurationMessage([] { makePreTokenizer(Config(json {{"type", "Sequence"}, {"pretokenizers", "x"}})); }),
        "No pretokenizers in Sequence");
    EXPECT_EQ(configurationMessage([] {
        makePreTokenizer(Config(json {{"type", "Sequence"}, {"pretokenizers", {{{"type", "Nope"}}}}}));
    }),
        "Unsupported PreTokenizer type: Nope");
    EXPECT_EQ(configurationMessage([] { makePreTokenizer(Config(json {{"type", "Split"}, {"pattern", {{"Regex", "["}}}})); }),
        "Cannot build regexp from [");
    EXPECT_EQ(makePreTokenizer(Config(json {{"type", nullptr}})), nullptr);
}
