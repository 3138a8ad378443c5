#include "Tokenizers/Decoders.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

Strings decode(const json& section, const Strings& tokens)
{
    return makeDecoder(Config(section))->decode(tokens);
}

const std::string blankCharacter = "\xC4\xA0";
const std::string replacement = "\xEF\xBF\xBD";

} // namespace

TEST(Decoders, ByteLevel)
{
    EXPECT_EQ(decode({{"type", "ByteLevel"}}, {blankCharacter + "hello", blankCharacter + "world"}), Strings {" hello world"});
    EXPECT_EQ(decode({{"type", "ByteLevel"}}, {}), Strings {});
    EXPECT_EQ(decode({{"type", "ByteLevel"}}, {"\xC3\x83"}), Strings {replacement}); // a lone lead byte
    EXPECT_EQ(decode({{"type", "ByteLevel"}}, {"\xC3\x83", "\xC2\xA9"}), Strings {"\xC3\xA9"}); // é across tokens
    // A character outside the alphabet stands for itself.
    EXPECT_EQ(decode({{"type", "ByteLevel"}}, {"\xE4\xB8\xAD"}), Strings {"\xE4\xB8\xAD"});

    const AddedTokenSet added {"<|endoftext|>", "\xC3\xA9t\xC3\xA9"};
    const auto withAdded = makeDecoder(Config(json {{"type", "ByteLevel"}}), added);
    EXPECT_EQ(withAdded->decode({"a", "<|endoftext|>", "b"}), (Strings {"a", "<|endoftext|>", "b"}));
    EXPECT_EQ(withAdded->decode({"<|endoftext|>", "a", "b"}), (Strings {"<|endoftext|>", "ab"}));
    // An added token whose text is outside the byte alphabet's printable range is not mangled.
    EXPECT_EQ(withAdded->decode({"\xC3\xA9t\xC3\xA9"}), Strings {"\xC3\xA9t\xC3\xA9"});
    // Sequences hand the added tokens on to their byte-level member.
    const auto sequence = makeDecoder(Config(json {{"type", "Sequence"}, {"decoders", {{{"type", "ByteLevel"}}}}}), added);
    EXPECT_EQ(sequence->decode({"\xC3\xA9t\xC3\xA9", blankCharacter}), (Strings {"\xC3\xA9t\xC3\xA9", " "}));
}

TEST(Decoders, ByteFallbackFuseStripReplace)
{
    const json fallback = {{"type", "ByteFallback"}};
    EXPECT_EQ(decode(fallback, {"<0xE2>", "<0x82>", "<0xAC>", "x"}), (Strings {"\xE2\x82\xAC", "x"}));
    EXPECT_EQ(decode(fallback, {"a", "<0xC3>", "<0xA9>"}), (Strings {"a", "\xC3\xA9"}));
    EXPECT_EQ(decode(fallback, {"<0x41>"}), Strings {"A"});
    EXPECT_EQ(decode(fallback, {"<0xZZ>", "<0x041>", "<0x-1>", "<0x+A>", "<0x-0>"}),
        (Strings {"<0xZZ>", "<0x041>", "<0x-1>", "\n" + std::string(1, '\0')}));
    EXPECT_EQ(decode(fallback, {"<0xC3>", "b"}), (Strings {replacement, "b"}));

    EXPECT_EQ(decode({{"type", "Fuse"}}, {}), Strings {""});
    EXPECT_EQ(decode({{"type", "Fuse"}}, {"a", "b", "c"}), Strings {"abc"});

    const json strip = {{"type", "Strip"}, {"content", " "}, {"start", 1}, {"stop", 0}};
    EXPECT_EQ(decode(strip, {"  hi "}), Strings {" hi "});
    EXPECT_EQ(decode({{"type", "Strip"}, {"content", " "}, {"start", -3}, {"stop", 5}}, {"  hi  ", "   "}), (Strings {"  hi", ""}));

    const json replace = {{"type", "Replace"}, {"pattern", {{"String", "\xE2\x96\x81"}}}, {"content", " "}};
    EXPECT_EQ(decode(replace, {"\xE2\x96\x81" "a\xE2\x96\x81" "b", "c"}), (Strings {" a b", "c"}));
    EXPECT_EQ(decode({{"type", "Replace"}, {"pattern", {{"Regex", "(a)(b)"}}}, {"content", "$2\\$$1"}}, {"abab"}), Strings {"b$ab$a"});
    EXPECT_EQ(decode({{"type", "Replace"}, {"content", " "}}, {"x_y"}), Strings {"x_y"});
}

TEST(Decoders, MetaspaceAndSequence)
{
    EXPECT_EQ(decode({{"type", "Metaspace"}, {"add_prefix_space", true}}, {"_hello_world", "_there"}), (Strings {"hello world", " there"}));
    EXPECT_EQ(decode({{"type", "Metaspace"}, {"add_prefix_space", false}}, {"_hello_world"}), Strings {" hello world"});
    EXPECT_EQ(decode({{"type", "Metaspace"}, {"add_prefix_space", "true"}}, {"_a"}), Strings {" a"});
    EXPECT_EQ(decode({{"type", "Metaspace"}, {"replacement", "\xE2\x96\x81"}, {"add_prefix_space", true}}, {"\xE2\x96\x81" "a"}), Strings {"a"});

    const json sequence = {{"type", "Sequence"},
        {"decoders", {{{"type", "ByteFallback"}}, {{"nothing", 1}}, {{"type", "Fuse"}}, {{"type", "Strip"}, {"content", " "}, {"start", 1}, {"stop", 0}}}}};
    EXPECT_EQ(decode(sequence, {" <0x41>", "<0x42>", "c"}), (Strings {"<0x41>Bc"}));
    EXPECT_EQ(decode({{"type", "Sequence"}, {"decoders", json::array()}}, {"a", "b"}), (Strings {"a", "b"}));
    EXPECT_EQ(makeDecoder(Config(json {{"kind", "ByteLevel"}})), nullptr);
}

TEST(Decoders, ConfigurationErrors)
{
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "WordPiece"}})); }), "Unsupported Decoder type: WordPiece");
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "Sequence"}})); }), "No decoders in Sequence");
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "Sequence"}, {"decoders", {{{"type", "X"}}}}})); }),
        "Unsupported Decoder type: X");
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "Strip"}, {"start", 1}, {"stop", 0}})); }),
        "Incorrect StripDecoder configuration: can't parse `content`.");
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "Strip"}, {"content", " "}, {"start", "1"}, {"stop", 0}})); }),
        "Incorrect StripDecoder configuration: can't parse `start`.");
    EXPECT_EQ(configurationMessage([] { makeDecoder(Config(json {{"type", "Strip"}, {"content", " "}, {"start", 1}})); }),
        "Incorrect StripDecoder configuration: can't parse `stop`.");
    EXPECT_EQ(configurationMessage([] {
        makeDecoder(Config(json {{"type", "Replace"}, {"pattern", {{"Regex", "a{"}}}, {"content", ""}}));
    }),
        "Cannot build regexp from a{");
}
