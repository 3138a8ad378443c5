#include "app/recorder/SmartNamingEngine.hpp"

#include "platform/text/Graphemes.hpp"
#include "platform/text/UnicodeText.hpp"

#include <gtest/gtest.h>

using parlino::SmartNamingEngine;

namespace {

QString title(const char* transcript)
{
    return SmartNamingEngine::generateTitle(QString::fromUtf8(transcript));
}

QString fileName(const char* title)
{
    return SmartNamingEngine::makeFileName(QString::fromUtf8(title), QDateTime(QDate(2025, 1, 31), QTime(14, 30, 0)));
}

} // namespace

TEST(SmartNamingEngine, TitlesFromCuesTopicsAndKeywords)
{
    EXPECT_EQ(SmartNamingEngine::stopWords().size(), 393u);

    // A dictated title keeps the speaker's letter case and ends at the sentence.
    EXPECT_EQ(title("Title: Weekly sync. Then we talked about the roadmap."), QStringLiteral("Weekly sync"));
    EXPECT_EQ(title("We met. Topic: budget review for Q3"), QStringLiteral("budget review for Q3"));
    EXPECT_EQ(title("First line\nSubject: Hiring plan\nand more"), QStringLiteral("Hiring plan"));
    EXPECT_EQ(title("Title: one two three four five six seven eight nine ten eleven"),
        QStringLiteral("one two three four five six seven eight nine ten"));
    // Too short after the cue: the search goes on to the topic keywords, then to plain words.
    EXPECT_EQ(title("Title: ab. We planned the project launch"), QStringLiteral("Project: Launch"));
    EXPECT_EQ(title("Title: ab. Nothing else"), QStringLiteral("Title Ab Nothing Else"));

    EXPECT_EQ(title("we had a meeting about the new budget plan"), QStringLiteral("Meeting: New Budget Plan"));
    EXPECT_EQ(title("let us schedule a meeting"), QStringLiteral("Meeting"));
    // Keywords stand as whole words only ("ideal" is not "idea").
    EXPECT_EQ(title("an ideal morning with coffee"), QStringLiteral("Ideal Morning Coffee"));

    EXPECT_EQ(title("Hello there, this is a quick test of the recorder"), QStringLiteral("Hello Quick Test Of Recorder"));
    EXPECT_EQ(title("I am a b c and the"), QStringLiteral("Am"));
    EXPECT_EQ(title("a i the and"), QStringLiteral("Voice Memo"));
    EXPECT_EQ(title(""), QStringLiteral("Voice Memo"));
}

TEST(SmartNamingEngine, TitlesInOtherScriptsAreCutAtWholeCharacters)
{
    EXPECT_EQ(title("Názov: Porada o rozpočte. Ďalej sme hovorili o lete."), QString::fromUtf8("Porada o rozpočte"));
    EXPECT_EQ(title("Mám nápad na novú aplikáciu"), QString::fromUtf8("Nápad: Novú Aplikáciu"));
    // Each dotted capital I lower-cases to two characters; the title still starts right after the cue.
    EXPECT_EQ(title("İİİ İstanbul. Başlık: Bütçe planı. Sonra"), QString::fromUtf8("Bütçe planı"));
    EXPECT_EQ(title("İstanbul İzmir toplantısı"), QString::fromUtf8("İstanbul İzmir Toplantısı"));
    EXPECT_EQ(title("Title: 🎉 Launch party 👩‍👩‍👧‍👦! Invite everyone"), QString::fromUtf8("🎉 Launch party 👩‍👩‍👧‍👦"));
    EXPECT_EQ(title("Заголовок: Отчёт за квартал"), QString::fromUtf8("Отчёт за квартал"));
}

TEST(SmartNamingEngine, FileNamesAreSafeAndShort)
{
    EXPECT_EQ(fileName("Weekly sync: Q3/Q4 plan"), QStringLiteral("2025-01-31_1430_Weekly_sync-_Q3-Q4_plan.m4a"));
    EXPECT_EQ(fileName("R&D review"), QStringLiteral("2025-01-31_1430_RandD_review.m4a"));
    EXPECT_EQ(fileName("???"), QStringLiteral("2025-01-31_1430_Memo.m4a"));
    EXPECT_EQ(fileName("a@b+c*\"<>|#%{}$!'`=[]\\d"), QStringLiteral("2025-01-31_1430_aatbplusc-d.m4a"));
    EXPECT_EQ(fileName("Porada tímu."), QString::fromUtf8("2025-01-31_1430_Porada_tímu..m4a"));
    // Line breaks and control characters never reach a file name.
    EXPECT_EQ(fileName("Line one\nline\ttwo\x7f\r"), QStringLiteral("2025-01-31_1430_Line_onelinetwo.m4a"));

    // Cut at 50 characters, then an underscore left at the cut is trimmed.
    const std::string longTitle = std::string(49, 'a') + " xyz";
    EXPECT_EQ(fileName(longTitle.c_str()), QString::fromStdString("2025-01-31_1430_" + std::string(49, 'a') + ".m4a"));

    // Wide characters: whole ones only, and the name fits in 255 bytes.
    std::string family;
    for (int i = 0; i < 50; ++i) {
        family += "👩‍👩‍👧‍👦";
    }
    const std::string name = fileName(family.c_str()).toStdString();
    EXPECT_LE(name.size(), SmartNamingEngine::maxFileNameBytes);
    EXPECT_TRUE(platform::isValidUtf8(name));
    const std::string stem = name.substr(16, name.size() - 16 - 4);
    EXPECT_EQ(platform::graphemeCount(stem), 9u);
    EXPECT_EQ(stem.size(), 9 * std::string("👩‍👩‍👧‍👦").size());
}
