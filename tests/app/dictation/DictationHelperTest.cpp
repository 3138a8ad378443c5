#include "app/dictation/DictationHelper.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "platform/audio/EventSounds.hpp"
#include "app/dictation/support/FakeInputs.hpp"
#include "app/dictation/support/ManualClock.hpp"
#include "app/ui/support/FakeDictation.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QStringList>

#include <gtest/gtest.h>

using namespace dictationtest;
using parlino::DictationHelper;
using parlino::FeedbackSound;
namespace SettingsKeys = parlino::SettingsKeys;
using namespace std::chrono_literals;

namespace {

const FrontWindow target {0xa00001, 4242};
const FrontWindow elsewhere {0xb00001, 4343};

struct PasteRoad {
    testsupport::TemporaryDirectory folder;
    platform::UserDefaults defaults {folder / "parlino.conf"};
    uitest::FakeClipboard clipboard;
    ManualClock clock;
    FakePasteInput input {clock};
    FakeSoundPlayer sounds;
    QStringList log;
    DictationHelper helper {{defaults, clipboard, input, sounds, clock, [this](const QString& line) { log << line; }}};
    parlino::Clock::TimePoint start = clock.now();

    // Milliseconds after the call at which each keystroke was typed.
    std::vector<std::pair<std::string, long>> typed() const
    {
        std::vector<std::pair<std::string, long>> result;
        for (const auto& keystroke : input.keystrokes) {
            result.emplace_back(keystroke.key, std::chrono::duration_cast<std::chrono::milliseconds>(keystroke.time - start).count());
        }
        return result;
    }
};

using Typed = std::vector<std::pair<std::string, long>>;

} // namespace

TEST(DictationHelper, PastesIntoTheTargetOnceItIsInFront)
{
    {
        SCOPED_TRACE("already in front");
        PasteRoad road;
        road.input.front = target;
        road.helper.pasteIntoApplication(QStringLiteral("hello"), target);
        EXPECT_EQ(road.clipboard.contents, QStringLiteral("hello"));
        EXPECT_EQ(road.clipboard.clears, 1);
        EXPECT_EQ(road.sounds.played, std::vector {FeedbackSound::paste});
        road.clock.advance(5s);
        EXPECT_EQ(road.typed(), (Typed {{"paste", 500}}));
    }
    {
        SCOPED_TRACE("in front after one more activation, with Return wanted");
        PasteRoad road;
        road.defaults.setBool(QString::fromLatin1(SettingsKeys::autoEnterAfterPaste), true);
        road.input.front = elsewhere;
        road.input.activationsBeforeFront = 2;
        road.helper.pasteIntoApplication(QStringLiteral("hello"), target);
        road.clock.advance(5s);
        EXPECT_EQ(road.typed(), (Typed {{"paste", 800}, {"return", 950}}));
    }
    {
        SCOPED_TRACE("never in front");
        PasteRoad road;
        road.input.front = elsewhere;
        road.input.activationsBeforeFront = 100;
        road.helper.pasteIntoApplication(QStringLiteral("hello"), target);
        road.clock.advance(5s);
        EXPECT_TRUE(road.typed().empty()) << "nothing may be typed into another window";
        EXPECT_EQ(road.input.activations.size(), 3u);
        EXPECT_EQ(road.clipboard.contents, QStringLiteral("hello"));
        ASSERT_EQ(road.log.size(), 1);
        EXPECT_TRUE(road.log[0].startsWith(QStringLiteral("⚠️")));
    }
    {
        SCOPED_TRACE("target window gone");
        PasteRoad road;
        road.input.front = elsewhere;
        road.input.goneWindows = {target.window};
        road.helper.pasteIntoApplication(QStringLiteral("hello"), target);
        road.clock.advance(5s);
        EXPECT_TRUE(road.typed().empty());
    }
    {
        SCOPED_TRACE("no target remembered");
        PasteRoad road;
        road.input.front = elsewhere;
        road.helper.pasteIntoApplication(QStringLiteral("hello"), std::nullopt);
        road.clock.advance(5s);
        EXPECT_TRUE(road.input.activations.empty());
        EXPECT_EQ(road.typed(), (Typed {{"paste", 500}}));
    }
    {
        SCOPED_TRACE("empty text");
        PasteRoad road;
        road.clipboard.contents = QStringLiteral("before");
        road.helper.pasteIntoApplication(QString(), target);
        road.helper.pasteAtCursor(QString());
        road.clock.advance(5s);
        EXPECT_EQ(road.clipboard.contents, QStringLiteral("before"));
        EXPECT_TRUE(road.sounds.played.empty());
        EXPECT_TRUE(road.typed().empty());
    }
}

TEST(DictationHelper, PasteAtCursorWaitsForTheUsersModifiersWithinABound)
{
    {
        PasteRoad road;
        road.helper.pasteAtCursor(QStringLiteral("at the cursor"));
        road.clock.advance(5s);
        EXPECT_EQ(road.typed(), (Typed {{"paste", 300}}));
    }
    {
        // Ctrl+Alt still held by the user: Ctrl+V waits until they are up.
        PasteRoad road;
        road.input.heldMask = platform::input::modifier::mod1;
        road.input.modifiersHeldUntil = road.start + 720ms;
        road.helper.pasteAtCursor(QStringLiteral("at the cursor"));
        road.clock.advance(5s);
        EXPECT_EQ(road.typed(), (Typed {{"paste", 750}}));
    }
    {
        PasteRoad road;
        road.input.heldMask = platform::input::modifier::control;
        road.input.modifiersHeldUntil = road.start + 1h;
        road.helper.pasteAtCursor(QStringLiteral("at the cursor"));
        road.clock.advance(10s);
        EXPECT_TRUE(road.typed().empty());
        EXPECT_EQ(road.clipboard.contents, QStringLiteral("at the cursor"));
        ASSERT_EQ(road.log.size(), 1);
        EXPECT_TRUE(road.log[0].startsWith(QStringLiteral("⚠️"))) << road.log[0].toStdString();
        EXPECT_EQ(road.clock.pendingCount(), 0u);
    }
    {
        PasteRoad road;
        road.input.keystrokeError = "the X server refused the synthetic keys";
        road.helper.pasteAtCursor(QStringLiteral("x"));
        road.clock.advance(1s);
        EXPECT_EQ(road.log, QStringList {QStringLiteral("❌ Paste failed: the X server refused the synthetic keys")});
    }
}

TEST(DictationHelper, SoundsPlayUnlessTheUserTurnedThemOff)
{
    PasteRoad road;
    road.helper.playFeedbackSound(FeedbackSound::start);
    road.helper.playFeedbackSound(FeedbackSound::stop);
    EXPECT_EQ(road.sounds.played, (std::vector {FeedbackSound::start, FeedbackSound::stop}));
    road.defaults.setBool(QString::fromLatin1(SettingsKeys::soundFeedbackEnabled), false);
    road.helper.playFeedbackSound(FeedbackSound::start);
    road.helper.pasteAtCursor(QStringLiteral("quiet"));
    road.clock.advance(1s);
    EXPECT_EQ(road.sounds.played.size(), 2u);
    EXPECT_EQ(road.typed().size(), 1u) << "silence does not stop the paste";
}

TEST(ThemeSoundPlayer, FindsTheThemeSoundsAndSkipsMissingOnes)
{
    testsupport::TemporaryDirectory data;
    std::filesystem::create_directories(data / "sounds/freedesktop/stereo");
    testsupport::writeFile(data / "sounds/freedesktop/stereo/complete.oga", "not really audio");
    platform::EventSounds sounds({.server = "unix:" + (data / "no-server").string()}, {data.path()});
    EXPECT_EQ(sounds.find(parlino::ThemeSoundPlayer::themeName(FeedbackSound::paste)),
              data / "sounds/freedesktop/stereo/complete.oga");
    EXPECT_FALSE(sounds.find(parlino::ThemeSoundPlayer::themeName(FeedbackSound::start)));
    EXPECT_FALSE(sounds.find("../stereo/complete"));
    EXPECT_FALSE(sounds.play("message-new-instant"));
    // A file that cannot be played, and no sound server: silent, never an error.
    EXPECT_TRUE(sounds.play("complete"));
}
