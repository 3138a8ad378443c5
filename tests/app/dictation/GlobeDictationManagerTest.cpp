#include "app/dictation/support/DictationRoad.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/recorder/RecordingError.hpp"

#include <gtest/gtest.h>

using namespace dictationtest;
using parlino::FeedbackSound;
using parlino::GlobeDictationManager;
using parlino::RecordingCategory;
namespace SettingsKeys = parlino::SettingsKeys;
namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
using Trigger = DictationRoad::Trigger;

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

const FrontWindow windowA {0xa00001, 4242};
const FrontWindow windowB {0xb00001, 4343};

} // namespace

TEST(GlobeDictationManager, TriggerSettingsPersistAndDecideWhetherTheTapRuns)
{
    DictationRoad road;
    auto& manager = road.create();
    EXPECT_TRUE(road.defaults.boolValue(key(SettingsKeys::dictationCapsLockEnabled)));
    EXPECT_FALSE(road.defaults.boolValue(key(SettingsKeys::dictationRightShiftEnabled), true));
    EXPECT_TRUE(road.defaults.contains(key(SettingsKeys::dictationRightShiftEnabled)));
    EXPECT_TRUE(road.defaults.boolValue(key(SettingsKeys::dictationGlobeEnabled)));
    EXPECT_TRUE(manager.isEventTapRunning());
    EXPECT_EQ(road.input.tapStarts, 1);
    road.advance(999);
    EXPECT_EQ(road.input.tapStarts, 1);
    road.advance(1);
    EXPECT_EQ(road.input.tapStarts, 2) << "the tap starts afresh 1.0 s after creation";

    manager.setCapsLockTriggerEnabled(false);
    manager.setGlobeTriggerEnabled(false);
    EXPECT_FALSE(manager.isEventTapRunning());
    EXPECT_FALSE(road.defaults.boolValue(key(SettingsKeys::dictationGlobeEnabled), true));

    // A lock already lit when listening starts again starts nothing; its turning off stops nothing.
    road.input.setCapsLock(true);
    manager.setCapsLockTriggerEnabled(true);
    EXPECT_TRUE(manager.isEventTapRunning());
    road.input.setCapsLock(false);
    road.input.setCapsLock(true);
    road.settle();
    EXPECT_EQ(road.recorder.startCalls, 1);

    // Stored choices win over the defaults at the next start.
    DictationRoad later;
    later.defaults.setBool(key(SettingsKeys::dictationCapsLockEnabled), false);
    later.defaults.setBool(key(SettingsKeys::dictationGlobeEnabled), false);
    auto& quiet = later.create();
    EXPECT_FALSE(quiet.isAnyTriggerEnabled());
    EXPECT_FALSE(quiet.isEventTapRunning());
    later.advance(2000);
    EXPECT_EQ(later.input.tapStarts, 0);
}

TEST(GlobeDictationManager, RightShiftHeldPastItsThresholdDictatesIntoTheWindowThatWasInFront)
{
    DictationRoad road;
    road.defaults.setBool(key(SettingsKeys::dictationRightShiftEnabled), true);
    auto& manager = road.create();
    road.input.front = windowA;

    road.input.press(keysym::shiftRight, modifier::shift);
    road.advance(299);
    EXPECT_EQ(road.recorder.startCalls, 0);
    road.advance(1);
    EXPECT_EQ(road.recorder.startCalls, 1);
    EXPECT_TRUE(manager.isActive());
    EXPECT_TRUE(road.recorder.isRecording());
    EXPECT_EQ(road.helper.sounds, std::vector {FeedbackSound::start});

    // The user moves to another window while speaking; the text still goes where the key went down.
    road.input.front = windowB;
    road.advance(1700);
    road.input.release(keysym::shiftRight);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    EXPECT_EQ(road.helper.sounds, (std::vector {FeedbackSound::start, FeedbackSound::stop}));
    road.transcribe(QStringLiteral("Hello from the pipe"), road.audioFile("take.m4a"));
    ASSERT_EQ(road.helper.pastes, std::vector {QStringLiteral("Hello from the pipe")});
    ASSERT_TRUE(road.helper.targets.front());
    EXPECT_EQ(road.helper.targets.front()->window, windowA.window);
    EXPECT_FALSE(std::filesystem::exists(road.folder / "take.m4a")) << "neither saved nor kept: the audio goes";
    EXPECT_FALSE(manager.previousFrontmostApp());

    EXPECT_TRUE(manager.isActive());
    road.advance(1499);
    EXPECT_TRUE(manager.isActive());
    road.advance(1);
    EXPECT_FALSE(manager.isActive());
}

TEST(GlobeDictationManager, RightCtrlMustBeHeldAloneAndEachCheckBelongsToItsOwnPress)
{
    DictationRoad road;
    auto& manager = road.create();

    // Part of a shortcut: held with Shift it never starts.
    road.input.press(keysym::controlRight, modifier::shift);
    road.advance(1000);
    road.input.release(keysym::controlRight);
    EXPECT_EQ(road.recorder.startCalls, 0);

    // Released after 0.5 s: nothing recorded, nothing stopped.
    road.input.press(keysym::controlRight);
    road.advance(500);
    road.input.release(keysym::controlRight);
    road.advance(1000);
    EXPECT_EQ(road.recorder.startCalls, 0);
    EXPECT_EQ(road.recorder.stopCalls, 0);

    // Pressed again within the threshold: the first press's check starts nothing.
    road.input.press(keysym::controlRight);
    road.advance(300);
    road.input.release(keysym::controlRight);
    road.advance(200);
    road.input.press(keysym::controlRight);
    road.advance(200);
    EXPECT_EQ(road.recorder.startCalls, 0);
    road.advance(499);
    EXPECT_EQ(road.recorder.startCalls, 0);
    road.advance(1);
    EXPECT_EQ(road.recorder.startCalls, 1);
    EXPECT_TRUE(manager.isTriggerHeld(Trigger::globe));

    // Held 0.8 s in all: a real dictation.
    road.advance(100);
    road.input.release(keysym::controlRight);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("typed by voice"));
    EXPECT_EQ(road.helper.pastes.size(), 1u);
}

TEST(GlobeDictationManager, AHoldWithAnyOtherInputIsAChordThatNeverDictates)
{
    DictationRoad road;
    road.defaults.setBool(key(SettingsKeys::dictationRightShiftEnabled), true);
    auto& manager = road.create();

    // Ctrl+click, Ctrl+scroll, a held Ctrl+C: other input during the hold cancels that press.
    road.input.press(keysym::controlRight);
    road.advance(200);
    road.input.otherInput();
    EXPECT_FALSE(manager.isTriggerHeld(Trigger::globe));
    road.advance(1000);
    road.input.release(keysym::controlRight);
    EXPECT_EQ(road.recorder.startCalls, 0);

    // Right Shift pressed during Right Ctrl's hold cancels Right Ctrl, and the other way round.
    road.input.press(keysym::controlRight);
    road.input.press(keysym::shiftRight, modifier::control);
    EXPECT_FALSE(manager.isTriggerHeld(Trigger::globe));
    road.input.release(keysym::shiftRight);
    road.input.release(keysym::controlRight);
    road.input.press(keysym::shiftRight, modifier::shift);
    road.input.press(keysym::controlRight, modifier::shift);
    EXPECT_FALSE(manager.isTriggerHeld(Trigger::rightShift));
    road.advance(1000);
    road.input.release(keysym::controlRight);
    road.input.release(keysym::shiftRight);
    EXPECT_EQ(road.recorder.startCalls, 0);

    // The cancelled press ends with its release; the next bare hold dictates as before.
    road.input.press(keysym::controlRight);
    road.advance(700);
    EXPECT_EQ(road.recorder.startCalls, 1);

    // Once the dictation runs, typing does not end it: the user's words are kept.
    road.input.otherInput();
    EXPECT_TRUE(manager.isTriggerHeld(Trigger::globe));
    road.advance(500);
    road.input.release(keysym::controlRight);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("a bare hold"));
    EXPECT_EQ(road.helper.pastes, std::vector {QStringLiteral("a bare hold")});
}

TEST(GlobeDictationManager, CapsLockTogglesADictationEvenWhenItsStartIsStillOnItsWay)
{
    DictationRoad road;
    auto& manager = road.create();

    road.input.setCapsLock(true);
    EXPECT_TRUE(manager.isStartingRecording());
    // Turned off again before the recorder has begun: the stop waits for the start, then acts.
    road.input.setCapsLock(false);
    EXPECT_EQ(road.recorder.stopCalls, 0);
    road.settle();
    EXPECT_FALSE(manager.isStartingRecording());
    EXPECT_EQ(road.recorder.stopCalls, 1) << "a start that finishes after its stop request is stopped at once";
    road.transcribe(QStringLiteral("quick toggle"));
    EXPECT_EQ(road.helper.pastes, std::vector {QStringLiteral("quick toggle")});

    // A failed start leaves nothing running and nothing for the lock's turning off to stop.
    road.recorder.nextStartError = std::make_exception_ptr(parlino::RecordingError(parlino::RecordingError::microphoneAccessDenied));
    road.advance(2000);
    road.input.setCapsLock(true);
    road.settle();
    EXPECT_FALSE(manager.isActive());
    ASSERT_FALSE(road.log.isEmpty());
    EXPECT_TRUE(road.log.back().startsWith(QStringLiteral("❌ Dictation [⇪]: failed to start: "))) << road.log.back().toStdString();
    road.input.setCapsLock(false);
    road.settle();
    EXPECT_EQ(road.recorder.stopCalls, 1);
}

TEST(GlobeDictationManager, OneTriggerNeverStopsAnothersDictationAndARefusedStartLeavesNoTrace)
{
    DictationRoad road;
    road.defaults.setBool(key(SettingsKeys::dictationRightShiftEnabled), true);
    auto& manager = road.create();

    road.input.setCapsLock(true);
    road.settle();
    ASSERT_TRUE(road.recorder.isRecording());
    // Right Shift held meanwhile: its start is refused, so its release stops nothing.
    road.input.press(keysym::shiftRight, modifier::shift | modifier::lock);
    road.advance(600);
    road.input.release(keysym::shiftRight);
    EXPECT_EQ(road.recorder.startCalls, 1);
    EXPECT_EQ(road.recorder.stopCalls, 0);
    EXPECT_TRUE(manager.isActive());
    road.input.setCapsLock(false);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QString(), road.audioFile("silence.m4a"));
    EXPECT_FALSE(manager.isActive());
    EXPECT_TRUE(road.helper.pastes.empty());
    EXPECT_EQ(road.log.back(), QStringLiteral("⚠️ Dictation [⇪]: empty transcription, nothing to paste"));
    EXPECT_FALSE(std::filesystem::exists(road.folder / "silence.m4a"));

    // The model is not ready: the start is refused with its line, no sound, and the release is silent.
    road.recorder.setAurisReady(false);
    road.helper.sounds.clear();
    road.input.press(keysym::shiftRight, modifier::shift);
    road.advance(400);
    road.input.release(keysym::shiftRight);
    EXPECT_TRUE(road.log.contains(QStringLiteral("⚠️ Dictation [⇧R]: Auris not ready")));
    EXPECT_EQ(road.recorder.startCalls, 1);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    EXPECT_TRUE(road.helper.sounds.empty());
    EXPECT_FALSE(manager.isActive());

    // A recording begun in the main window is not a dictation's to start over.
    road.recorder.setAurisReady(true);
    road.recorder.setIsRecording(true);
    road.input.setCapsLock(true);
    road.input.setCapsLock(false);
    EXPECT_EQ(road.recorder.startCalls, 1);
    EXPECT_EQ(road.recorder.stopCalls, 1);
}

TEST(GlobeDictationManager, AnOldActiveResetNeverEndsANewerDictation)
{
    DictationRoad road;
    auto& manager = road.create();
    road.input.setCapsLock(true);
    road.settle();
    road.input.setCapsLock(false);
    road.transcribe(QStringLiteral("first"));
    ASSERT_TRUE(manager.isActive());
    road.advance(1000);
    road.input.setCapsLock(true);
    road.settle();
    ASSERT_TRUE(road.recorder.isRecording());
    road.advance(600);
    EXPECT_TRUE(manager.isActive()) << "the first paste's 1.5 s reset cleared the second dictation";
    road.input.setCapsLock(false);
    road.transcribe(QStringLiteral("second"));
    road.advance(1500);
    EXPECT_FALSE(manager.isActive());
}

TEST(GlobeDictationManager, AKeyHeldAcrossATapRestartStillStopsItsDictation)
{
    DictationRoad road;
    road.defaults.setBool(key(SettingsKeys::dictationRightShiftEnabled), true);
    auto& manager = road.create();
    road.input.press(keysym::shiftRight, modifier::shift);
    road.advance(300);
    ASSERT_TRUE(road.recorder.isRecording());
    // The delayed start at 1.0 s replaces the tap while the key is down.
    road.advance(700);
    ASSERT_EQ(road.input.tapStarts, 2);
    road.input.release(keysym::shiftRight);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.transcribe(QStringLiteral("across the restart"));

    // Let go while no tap listened (a retry that found the desktop gone for a moment): the release
    // is seen when listening resumes.
    road.advance(2000);
    road.input.press(keysym::controlRight);
    road.advance(800);
    ASSERT_EQ(road.recorder.startCalls, 2);
    road.input.missingText = "the X server has no RECORD extension";
    manager.startEventTap();
    EXPECT_FALSE(manager.isEventTapRunning());
    road.input.release(keysym::controlRight);
    EXPECT_EQ(road.recorder.stopCalls, 1);
    road.input.missingText.clear();
    manager.startEventTap();
    EXPECT_EQ(road.recorder.stopCalls, 2);
    EXPECT_FALSE(manager.isTriggerHeld(Trigger::globe));
}

TEST(GlobeDictationManager, FilingFollowsTheSaveAndKeepSettings)
{
    struct Case {
        const char* name;
        std::optional<bool> save;
        std::optional<bool> keepAudio;
        bool saveFails;
        bool expectSaved;
        bool expectAudioLeft;
    };
    const Case cases[] {
        {"nothing stored", std::nullopt, std::nullopt, false, false, false},
        {"keep audio only", false, true, false, false, true},
        {"save", true, false, false, true, true},
        {"save and keep", true, true, false, true, true},
        {"save fails", true, false, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DictationRoad road;
        if (c.save) {
            road.defaults.setBool(key(SettingsKeys::saveToRecordings), *c.save);
        }
        if (c.keepAudio) {
            road.defaults.setBool(key(SettingsKeys::saveAudioFile), *c.keepAudio);
        }
        road.defaults.setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Meeting"));
        road.defaults.setString(key(SettingsKeys::recordingTitle), QStringLiteral("Standup notes"));
        if (c.saveFails) {
            road.library.nextSaveError = "invalidAudioFile";
        }
        // A recording synced from elsewhere sits at the front of the list when the save returns.
        parlino::Recording other;
        other.id = QUuid::createUuid();
        other.title = QStringLiteral("From the cloud");
        other.category = RecordingCategory::work;
        road.library.arrivesWithNextSave = other;
        auto& manager = road.create();
        road.input.setCapsLock(true);
        road.settle();
        road.input.setCapsLock(false);
        road.transcribe(QStringLiteral("meeting text"), road.audioFile("take.m4a"));

        EXPECT_EQ(std::filesystem::exists(road.folder / "take.m4a"), c.expectAudioLeft);
        EXPECT_EQ(road.helper.pastes.size(), 1u) << "the transcript is pasted whatever happens to the audio";
        if (c.expectSaved) {
            ASSERT_EQ(road.library.recordings().size(), 2);
            const parlino::Recording& saved = road.library.recordings()[1];
            EXPECT_EQ(saved.category, RecordingCategory::meeting);
            EXPECT_EQ(saved.title, QStringLiteral("Standup notes"));
            EXPECT_EQ(road.library.recordings()[0].title, QStringLiteral("From the cloud"));
            EXPECT_EQ(road.library.recordings()[0].category, RecordingCategory::work);
            EXPECT_EQ(road.defaults.stringValue(key(SettingsKeys::recordingTitle)), QString());
        } else {
            EXPECT_EQ(road.defaults.stringValue(key(SettingsKeys::recordingTitle)), QStringLiteral("Standup notes"));
        }
        if (c.saveFails) {
            EXPECT_TRUE(road.log.contains(QStringLiteral("❌ Dictation [⇪]: save failed: invalidAudioFile"))) << road.log.join('\n').toStdString();
        }
        EXPECT_TRUE(manager.isActive());
    }

    // A short hold drops its result: no sound, nothing filed, deleted or pasted.
    DictationRoad road;
    road.defaults.setBool(key(SettingsKeys::saveToRecordings), true);
    auto& manager = road.create();
    manager.startDictation(Trigger::rightShift);
    road.settle();
    road.helper.sounds.clear();
    manager.stopDictation(Trigger::rightShift, 0.2, false);
    road.transcribe(QStringLiteral("accidental"), road.audioFile("tap.m4a"));
    EXPECT_TRUE(road.helper.sounds.empty());
    EXPECT_TRUE(road.helper.pastes.empty());
    EXPECT_EQ(road.library.saveCalls, 0);
    EXPECT_TRUE(std::filesystem::exists(road.folder / "tap.m4a"));
    EXPECT_FALSE(manager.isActive());
}

TEST(GlobeDictationManager, MissingPermissionIsReportedAndPolledUntilItArrives)
{
    DictationRoad road;
    road.input.missingText = "the X server has no RECORD extension";
    auto& manager = road.create();
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_EQ(manager.missingPermissionText(), QStringLiteral("the X server has no RECORD extension"));
    EXPECT_FALSE(manager.isEventTapRunning());
    EXPECT_TRUE(road.log.contains(QStringLiteral("🎙️ Push-to-talk: No Accessibility permission")));

    // The delayed restart and every trigger switch find it missing again: that is no change.
    int changes = 0;
    QObject::connect(&manager, &parlino::GlobeDictationService::needsAccessibilityPermissionChanged, [&] { ++changes; });
    road.advance(1000);
    manager.setRightShiftTriggerEnabled(true);
    manager.setCapsLockTriggerEnabled(false);
    EXPECT_EQ(changes, 0);

    road.log.clear();
    manager.requestAccessibilityPermission();
    ASSERT_GE(road.log.size(), 2);
    EXPECT_EQ(road.log[0], QStringLiteral("🎙️ Push-to-talk: the X server has no RECORD extension"));
    EXPECT_TRUE(road.log[1].contains(QStringLiteral("X11"))) << road.log[1].toStdString();
    road.advance(3000);
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    const int startsBefore = road.input.tapStarts;
    road.input.missingText.clear();
    road.advance(1500);
    EXPECT_FALSE(manager.needsAccessibilityPermission());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(manager.missingPermissionText().isEmpty());
    EXPECT_TRUE(manager.isEventTapRunning());
    EXPECT_EQ(road.input.tapStarts, startsBefore + 1);
    road.advance(6000);
    EXPECT_EQ(road.input.tapStarts, startsBefore + 1) << "the poll stops once the permission is there";

    // A tap the desktop refuses, or one whose server goes away, shows as missing permission too.
    road.input.tapError = "recording did not start";
    manager.startEventTap();
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_TRUE(road.log.contains(QStringLiteral("❌ Push-to-talk: Failed to create X11 event tap")));
    road.input.tapError.clear();
    manager.startEventTap();
    EXPECT_FALSE(manager.needsAccessibilityPermission());
    road.input.breakTap();
    EXPECT_TRUE(manager.needsAccessibilityPermission());
    EXPECT_FALSE(manager.isEventTapRunning());
}

TEST(GlobeDictationManager, OwnWindowsNeverBecomeThePasteTarget)
{
    DictationRoad road;
    auto& manager = road.create();
    road.input.front = windowA;
    road.input.setCapsLock(true);
    road.settle();
    road.input.setCapsLock(false);
    road.input.front = FrontWindow {0xc00001, static_cast<int>(::getpid())};
    road.transcribe(QStringLiteral("one"));
    road.advance(2000);
    // Pressed while this program is in front: the former target stays (here: none).
    road.input.setCapsLock(true);
    road.settle();
    EXPECT_FALSE(manager.previousFrontmostApp());
    road.input.setCapsLock(false);
    road.transcribe(QStringLiteral("two"));
    ASSERT_EQ(road.helper.targets.size(), 2u);
    EXPECT_EQ(road.helper.targets[0]->window, windowA.window);
    EXPECT_FALSE(road.helper.targets[1]);
}
