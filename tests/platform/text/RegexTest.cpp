#include "platform/text/Regex.hpp"

#include <gtest/gtest.h>

using namespace platform;

namespace {

std::vector<std::string> matches(const Regex& regex, std::string_view text)
{
    std::vector<std::string> out;
    for (const auto& range : regex.findAll(text)) {
        out.emplace_back(text.substr(range.begin, range.end - range.begin));
    }
    return out;
}

} // namespace

TEST(Regex, FindsAllMatchesInUtf8WithIcuSyntax)
{
    const Regex gpt2(R"('s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)");
    EXPECT_EQ(matches(gpt2, "Hello world's  caf\xC3\xA9 42!!\n"),
        (std::vector<std::string> {"Hello", " world", "'s", " ", " caf\xC3\xA9", " 42", "!!", "\n"}));
    EXPECT_EQ(matches(gpt2, "\xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80"),
        (std::vector<std::string> {"\xE4\xBD\xA0\xE5\xA5\xBD", " \xF0\x9F\x98\x80"}));

    const Regex escaped(R"([\u0021-\u002F]+)");
    EXPECT_EQ(matches(escaped, "a!#b"), (std::vector<std::string> {"!#"}));

    // Offsets stay right after supplementary characters and ill-formed bytes.
    const Regex letters(R"(\p{L}+)");
    const std::string text = "\xF0\x9F\x98\x80\xC3x\xC3\xA9y";
    const auto ranges = letters.findAll(text);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], (TextRange {5, 9}));
}

TEST(Regex, EmptyMatchesAdvanceAndTemplatesExpand)
{
    const Regex optional("x*");
    EXPECT_EQ(optional.findAll("ab").size(), 3u); // before a, before b, at the end
    EXPECT_EQ(optional.findAll("").size(), 1u);

    const Regex pair("(\\w)(\\w)");
    EXPECT_EQ(pair.replaceAll("abcd!", "$2$1"), "badc!");
    EXPECT_EQ(pair.replaceAll("ab", "\\$1-$9-$12"), "$1--a2");
    EXPECT_EQ(Regex(" ").replaceAll("a b c", "\xE2\x96\x81"), "a\xE2\x96\x81" "b\xE2\x96\x81" "c");

    EXPECT_THROW(Regex("("), RegexError);
    EXPECT_THROW(Regex("\xC3"), RegexError);

    EXPECT_EQ(replacingOccurrences("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replacingOccurrences("abc", "", "x"), "abc");
    EXPECT_EQ(findAllLiteral("a-b-", "-").size(), 2u);
}

TEST(Regex, LimitsStopCatastrophicBacktrackingButNotOrdinarySearches)
{
    const RegexLimits limits {.fixedTime = 100, .codeUnitsPerTime = 8, .stackBytes = 1 << 20};
    const std::string hostile = std::string(40, 'a') + "!";
    try {
        Regex("(a+)+$", limits).findAll(hostile);
        ADD_FAILURE() << "the search finished";
    } catch (const RegexLimitError& error) {
        EXPECT_EQ(error.limit(), RegexLimitError::Limit::time);
    }
    EXPECT_THROW(Regex("(a+)+$", limits).replaceAll(hostile, ""), RegexLimitError);

    // Each repetition of a group with a choice keeps a backtracking frame, so a long run of them
    // meets the stack bound, which is the caller's and not the engine's default.
    std::string alternating;
    for (int i = 0; i < 2'000; ++i) {
        alternating += "ab";
    }
    EXPECT_TRUE(Regex("(a|b)*c").findAll(alternating).empty());
    try {
        Regex("(a|b)*c", {.stackBytes = 4096}).findAll(alternating);
        ADD_FAILURE() << "the search finished";
    } catch (const RegexLimitError& error) {
        EXPECT_EQ(error.limit(), RegexLimitError::Limit::stack);
    }

    // The budget grows with the text, so a long text of many matches still finishes.
    const std::string longText(1 << 20, 'a');
    EXPECT_EQ(Regex("a", limits).findAll(longText).size(), longText.size());
    EXPECT_EQ(Regex("a+b|a", limits).replaceAll("aaab aa", "x"), "x xx");
    EXPECT_EQ(Regex("(a+)+$").findAll("aaa").size(), 1u);
}
