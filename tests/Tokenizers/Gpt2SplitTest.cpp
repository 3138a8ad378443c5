#include "Tokenizers/Gpt2Split.hpp"
#include "Tokenizers/PreTokenizers.hpp"

#include "platform/text/UnicodeText.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace tokenizers;

namespace {

const platform::Regex& gpt2Regex()
{
    static const platform::Regex regex(ByteLevelPreTokenizer::RE);
    return regex;
}

} // namespace

TEST(Gpt2Split, ClassifiesEveryCodePointAsTheRegexEngineDoes)
{
    // Every code point, classified once by the regular-expression engine.
    const platform::Regex letter(R"(\p{L})");
    const platform::Regex number(R"(\p{N})");
    const platform::Regex space(R"(\s)");
    std::string all;
    for (char32_t c = 1; c < 0x110000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;
        }
        platform::appendUtf8(all, c);
    }
    auto classRuns = [&](const platform::Regex& regex) {
        std::vector<bool> member(all.size(), false);
        for (const auto& range : regex.findAll(all)) {
            member[range.begin] = true;
        }
        return member;
    };
    const auto letters = classRuns(letter);
    const auto numbers = classRuns(number);
    const auto spaces = classRuns(space);
    std::size_t offset = 0;
    int mismatches = 0;
    while (offset < all.size()) {
        const std::size_t start = offset;
        platform::nextScalar(all, offset);
        const std::string_view one(all.data() + start, offset - start);
        // The splitter's class shows in whether the scalar joins a run of that class.
        const std::string probe = std::string("a") + std::string(one) + "a";
        const auto ranges = gpt2SplitRanges(probe);
        const bool joinedWithLetters = ranges.size() == 1;
        if (joinedWithLetters != letters[start]) {
            ++mismatches;
        }
        const std::string digits = std::string("1") + std::string(one) + "1";
        if ((gpt2SplitRanges(digits).size() == 1) != numbers[start]) {
            ++mismatches;
        }
        const std::string blanks = std::string("\t") + std::string(one) + "\t";
        if ((gpt2SplitRanges(blanks).size() == 1) != spaces[start]) {
            ++mismatches;
        }
        ASSERT_LT(mismatches, 5) << "at U+" << std::hex << static_cast<unsigned>(platform::unicodeScalars(one)[0]);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Gpt2Split, FindsTheRegexEnginesMatches)
{
    const std::vector<std::string> alphabet {"a", "Z", "\xC3\xA9", "e\xCC\x81", "\xE4\xB8\xAD", "7", "\xD9\xA3", "\xC2\xBD", " ", " ", "  ",
        "\t", "\n", "\r\n", "\xC2\xA0", "\xE3\x80\x80", "\x0B", "\xC2\x85", "'", "'s", "'t", "'re", "'ve", "'m", "'ll", "'d", "'S",
        "!", ",", "\xF0\x9F\x98\x80", "\xE2\x80\x8D", "\xEF\xBF\xBD", "\xFF", "\xC3", "-", "$"};
    std::mt19937 random(99);
    for (int trial = 0; trial < 3000; ++trial) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            text += alphabet[random() % alphabet.size()];
        }
        ASSERT_EQ(gpt2SplitRanges(text), gpt2Regex().findAll(text)) << "text: " << text;
    }
    EXPECT_TRUE(gpt2SplitRanges("").empty());
}
