#include "platform/text/CharacterProperties.hpp"
#include "platform/text/Graphemes.hpp"
#include "platform/text/TextTransforms.hpp"
#include "platform/text/UnicodeText.hpp"

#include <gtest/gtest.h>

using namespace platform;

TEST(UnicodeText, IllFormedBytesBecomeReplacementCharacters)
{
    EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80")); // a surrogate written as UTF-8
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));     // overlong

    EXPECT_EQ(decodeUtf8Lossy(std::string_view("a\xC3")), "a\xEF\xBF\xBD");
    // One replacement per maximal ill-formed subpart: a truncated three-byte sequence is one.
    EXPECT_EQ(decodeUtf8Lossy(std::string_view("\xE2\x82x")), "\xEF\xBF\xBDx");
    EXPECT_EQ(decodeUtf8Lossy(std::string_view("\x80\x80")), "\xEF\xBF\xBD\xEF\xBF\xBD");

    const std::string mixed = "a\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(unicodeScalars(mixed), (std::vector<char32_t> {U'a', U'\u00E9', U'\U0001F600'}));
    EXPECT_EQ(toUtf8(toUtf16(mixed)), mixed);
    EXPECT_EQ(toUtf16(mixed).size(), 4u);
    EXPECT_EQ(toUtf8(u"\xD800x"), "\xEF\xBF\xBDx"); // lone surrogate
}

TEST(UnicodeText, GraphemeClustersAreUserPerceivedCharacters)
{
    const std::string decomposed = "e\xCC\x81"; // e + combining acute
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const std::string flag = "\xF0\x9F\x87\xB8\xF0\x9F\x87\xB0";
    const std::string text = "a" + decomposed + "\r\n" + family + flag + "\xE4\xB8\xAD";
    const auto clusters = graphemeClusters(text);
    ASSERT_EQ(clusters.size(), 6u);
    EXPECT_EQ(clusters[1], decomposed);
    EXPECT_EQ(clusters[2], "\r\n");
    EXPECT_EQ(clusters[3], family);
    EXPECT_EQ(clusters[4], flag);
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("\xC4\xA0hello"), 6u);
    // Ill-formed bytes are characters of their own and never merge with neighbours.
    EXPECT_EQ(graphemeCount("a\xC3" + decomposed), 3u);
}

TEST(UnicodeText, NormalizationCaseAndProperties)
{
    const std::string precomposed = "caf\xC3\xA9";
    const std::string decomposed = "cafe\xCC\x81";
    EXPECT_EQ(normalized(decomposed, NormalizationForm::nfc), precomposed);
    EXPECT_EQ(normalized(precomposed, NormalizationForm::nfd), decomposed);
    EXPECT_EQ(normalized("\xEF\xAC\x81", NormalizationForm::nfkc), "fi");
    EXPECT_EQ(normalized("\xEF\xAC\x81", NormalizationForm::nfc), "\xEF\xAC\x81");
    EXPECT_EQ(normalized("\xE2\x91\xA0", NormalizationForm::nfkd), "1");

    EXPECT_EQ(lowercased("HELLO \xC3\x89T\xC3\x89"), "hello \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(lowercased("\xC4\xB0"), "i\xCC\x87"); // full mapping: İ -> i + combining dot
    EXPECT_EQ(lowercased("\xCE\x9F\xCE\xA3"), "\xCE\xBF\xCF\x83"); // per scalar: no final-sigma rule
    EXPECT_EQ(lowercased("\xF0\x90\x90\x80x\xFF"), "\xF0\x90\x90\xA8x\xEF\xBF\xBD"); // Deseret, ill-formed byte

    EXPECT_EQ(capitalized("whisper"), "Whisper");
    EXPECT_EQ(capitalized("gPT neo_x"), "Gpt Neo_x");

    EXPECT_TRUE(isWhitespace(U'\n'));
    EXPECT_TRUE(isWhitespace(U'\u3000'));
    EXPECT_TRUE(isBlank(U'\t'));
    EXPECT_FALSE(isBlank(U'\n'));
    EXPECT_TRUE(isPunctuation(U','));
    EXPECT_TRUE(isPunctuation(U'\u00BF'));
    EXPECT_FALSE(isPunctuation(U'$'));
    EXPECT_TRUE(isNonspacingMark(U'\u0301'));
    for (char32_t wordPart : {U'a', U'\u017E', U'\u0416', U'\u4F1A', U'\u0301', U'7', U'\u00BD'}) {
        EXPECT_TRUE(isAlphanumeric(wordPart)) << static_cast<unsigned>(wordPart);
    }
    for (char32_t separator : {U' ', U'-', U'\'', U'_', U'\n', U'$', U'\U0001F600'}) {
        EXPECT_FALSE(isAlphanumeric(separator)) << static_cast<unsigned>(separator);
    }
}

TEST(UnicodeText, TrimmingBlanksKeepsLineBreaksAndStopsAtBrokenBytes)
{
    EXPECT_EQ(platform::trimmingBlanks("\t \u00A0Hello world\u3000 "), "Hello world");
    EXPECT_EQ(platform::trimmingBlanks(" \nline\n "), "\nline\n");
    EXPECT_EQ(platform::trimmingBlanks("   "), "");
    EXPECT_EQ(platform::trimmingBlanks(""), "");
    // A broken byte is content, never skipped as a blank.
    EXPECT_EQ(platform::trimmingBlanks(" \xC3 "), "\xC3");
}
