#include "platform/text/LanguageRecognizer.hpp"

#include <gtest/gtest.h>

using platform::LanguageRecognizer;

namespace {

std::optional<std::string> guess(std::string_view text)
{
    LanguageRecognizer recognizer;
    recognizer.processString(text);
    return recognizer.dominantLanguage();
}

} // namespace

TEST(LanguageRecognizer, MajorityScriptDecides)
{
    EXPECT_EQ(guess("\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C"), "zh"); // 你好，世界
    // 日本語です: mostly Han, but kana make it Japanese.
    EXPECT_EQ(guess("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xA7\xE3\x81\x99"), "ja");
    EXPECT_EQ(guess("\xE0\xB8\xAA\xE0\xB8\xA7\xE0\xB8\xB1\xE0\xB8\xAA\xE0\xB8\x94\xE0\xB8\xB5"), "th"); // สวัสดี
    EXPECT_EQ(guess("\xE0\xBA\xAA\xE0\xBA\xB0\xE0\xBA\x9A\xE0\xBA\xB2\xE0\xBA\x8D"), "lo");
    EXPECT_EQ(guess("\xE1\x80\x99\xE1\x80\xBC\xE1\x80\x94\xE1\x80\xBA\xE1\x80\x99\xE1\x80\xAC"), "my");
    EXPECT_EQ(guess("\xEC\x95\x88\xEB\x85\x95"), "ko");
    EXPECT_EQ(guess("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"), "ru");
    EXPECT_EQ(guess(" Hello, world! 42"), "en");
    // Latin letters outnumber the two Han characters.
    EXPECT_EQ(guess("the word \xE4\xBD\xA0\xE5\xA5\xBD means hello"), "en");

    EXPECT_EQ(guess(""), std::nullopt);
    EXPECT_EQ(guess("12 -- !? \xE2\x80\x94"), std::nullopt);
    EXPECT_EQ(guess("\xFF\xFE\xC3"), std::nullopt);

    LanguageRecognizer recognizer;
    recognizer.processString("\xE0\xB8\xAA\xE0\xB8\xA7");
    recognizer.processString("abc");
    EXPECT_EQ(recognizer.dominantLanguage(), "en");
    recognizer.reset();
    EXPECT_EQ(recognizer.dominantLanguage(), std::nullopt);
}
