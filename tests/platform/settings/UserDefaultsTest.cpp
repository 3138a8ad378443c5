#include "platform/settings/UserDefaults.hpp"

#include "support/TemporaryDirectory.hpp"

#include <QSignalSpy>

#include <gtest/gtest.h>

using platform::UserDefaults;

TEST(UserDefaults, StoresTypedValuesTellsAbsentFromFalseAndSurvivesReopening)
{
    testsupport::TemporaryDirectory folder;
    const auto file = folder.path() / "parlino" / "parlino.conf";
    {
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("saveToRecordings"));
        EXPECT_TRUE(defaults.boolValue("saveToRecordings", true));
        defaults.setBool("saveToRecordings", false);
        EXPECT_TRUE(defaults.contains("saveToRecordings"));
        EXPECT_FALSE(defaults.boolValue("saveToRecordings", true));

        defaults.setInteger("globalHotkeyKeyCode", 49);
        defaults.setInteger("globalHotkeyModifiers", 4294967295LL);
        defaults.setDouble("volume", 0.25);
        defaults.setString("recordingTitle", QStringLiteral("Porada, tím: \"Q3\" / plán"));
        defaults.setString("WHISPER_INIT_MODEL", QStringLiteral("@tiny"));
        defaults.setData("exportFolderBookmark", QByteArray("\0\x01\xffpath", 7));
    }
    // Written through at once: a second store on the same file sees everything.
    UserDefaults reopened(file);
    EXPECT_FALSE(reopened.boolValue("saveToRecordings", true));
    EXPECT_EQ(reopened.integerValue("globalHotkeyKeyCode"), 49);
    EXPECT_EQ(reopened.integerValue("globalHotkeyModifiers"), 4294967295LL);
    EXPECT_DOUBLE_EQ(reopened.doubleValue("volume"), 0.25);
    EXPECT_EQ(reopened.stringValue("recordingTitle"), QStringLiteral("Porada, tím: \"Q3\" / plán"));
    EXPECT_EQ(reopened.stringValue("WHISPER_INIT_MODEL"), QStringLiteral("@tiny"));
    EXPECT_EQ(reopened.dataValue("exportFolderBookmark"), QByteArray("\0\x01\xffpath", 7));
    EXPECT_FALSE(reopened.contains("whisperModel"));
    EXPECT_EQ(reopened.stringValue("whisperModel", "small"), QStringLiteral("small"));

    // Keys are case-sensitive and removal makes a key absent again.
    EXPECT_FALSE(reopened.contains("savetorecordings"));
    reopened.remove("saveToRecordings");
    EXPECT_FALSE(reopened.contains("saveToRecordings"));
}

TEST(UserDefaults, ReadsValuesOfAnotherTypeAsTheDefaultAndAnnouncesEveryWrite)
{
    testsupport::TemporaryDirectory folder;
    UserDefaults defaults(folder.path() / "parlino.conf");
    defaults.setString("text", "abc");
    EXPECT_TRUE(defaults.boolValue("text", true));
    EXPECT_FALSE(defaults.boolValue("text", false));
    EXPECT_EQ(defaults.integerValue("text", 7), 7);
    EXPECT_DOUBLE_EQ(defaults.doubleValue("text", 1.5), 1.5);
    EXPECT_TRUE(defaults.dataValue("text").isEmpty());
    defaults.setString("yes", "YES");
    EXPECT_TRUE(defaults.boolValue("yes"));
    defaults.setDouble("decimal", 3.9);
    EXPECT_EQ(defaults.integerValue("decimal"), 3);

    QSignalSpy changed(&defaults, &UserDefaults::changed);
    defaults.setBool("soundFeedbackEnabled", true);
    defaults.setBool("soundFeedbackEnabled", true);
    defaults.remove("soundFeedbackEnabled");
    ASSERT_EQ(changed.count(), 3);
    EXPECT_EQ(changed.at(2).at(0).toString(), QStringLiteral("soundFeedbackEnabled"));
}

// A settings file far beyond what the program writes is not parsed: it is set aside under a name
// that says so, never over an earlier one, the defaults are used, and new settings start a new file.
TEST(UserDefaults, AnOversizedFileIsSetAsideAndTheDefaultsUsed)
{
    testsupport::TemporaryDirectory folder;
    const auto file = folder / "parlino.conf";
    const std::string huge = "[General]\nwhisperModel=base\nfiller=" + std::string(UserDefaults::largestFile, 'x') + "\n";
    testsupport::writeFile(file, huge);
    testsupport::writeFile(folder / "parlino.conf.oversized", "an earlier one");

    testing::internal::CaptureStdout();
    UserDefaults defaults(file);
    const std::string told = testing::internal::GetCapturedStdout();
    EXPECT_NE(told.find("⚠️ Settings file " + file.string() + " is too large to hold settings ("
                  + std::to_string(huge.size()) + " bytes): set aside as parlino.conf.oversized-2, the defaults are used"),
        std::string::npos)
        << told;
    EXPECT_FALSE(defaults.contains(QStringLiteral("whisperModel")));
    EXPECT_EQ(defaults.stringValue(QStringLiteral("whisperModel"), QStringLiteral("small")), QStringLiteral("small"));
    EXPECT_EQ(std::filesystem::file_size(folder / "parlino.conf.oversized-2"), huge.size());
    EXPECT_EQ(testsupport::readFile(folder / "parlino.conf.oversized"), "an earlier one");

    defaults.setString(QStringLiteral("whisperModel"), QStringLiteral("tiny"));
    EXPECT_LT(std::filesystem::file_size(file), 1000u);
    EXPECT_EQ(UserDefaults(file).stringValue(QStringLiteral("whisperModel")), QStringLiteral("tiny"));
}
