#include "app/dictation/AfterRecording.hpp"

#include "app/dictation/SettingsKeys.hpp"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using parlino::AfterRecording;
using parlino::RecordingResult;
using Road = AfterRecording::Road;
namespace SettingsKeys = parlino::SettingsKeys;

namespace {

enum class Transcript { text, empty, pending, pendingWithoutFile, writeFailure };

RecordingResult resultOf(Transcript transcript)
{
    RecordingResult result;
    result.audioURL = std::filesystem::path("/recordings/a.m4a");
    switch (transcript) {
    case Transcript::text: result.transcription = QStringLiteral("hello"); break;
    case Transcript::empty: break;
    case Transcript::pending: result.transcriptPending = true; break;
    case Transcript::pendingWithoutFile:
        result.transcriptPending = true;
        result.audioURL.reset();
        break;
    case Transcript::writeFailure:
        result.transcription = QStringLiteral("partial");
        result.writeFailure = QStringLiteral("disk full");
        break;
    }
    return result;
}

const QString later = QStringLiteral("Use 'ReTranscribe' button later to add transcription");

} // namespace

TEST(AfterRecording, DecidesEachRoadFromTheResultAndTheSettings)
{
    struct Case {
        const char* name;
        Road road;
        AfterRecording::Settings settings;
        Transcript transcript;
        bool modelReady;
        bool ownWindowInFront;
        // Expected: keep, copy, announce, save, text only, remove audio, paste.
        bool keep, copy, announce, save, textOnly, removeAudio, paste;
        // When a save is planned, what the window says once it succeeded, or once it failed with "disk full".
        std::optional<QString> notice;
        std::optional<QString> noticeAfterFailure;
    };
    const std::vector<Case> cases = {
        {"copy only", Road::window, {true, false, false}, Transcript::text, true, false,
            false, true, true, false, false, true, false, QStringLiteral("Transcript copied to clipboard"), {}},
        {"nothing keeps the text", Road::window, {false, false, true}, Transcript::text, true, false,
            false, false, false, false, false, false, false, std::nullopt, {}},
        {"copy and save text only", Road::window, {true, true, false}, Transcript::text, true, true,
            false, true, true, true, true, false, false,
            QStringLiteral("Transcript copied to clipboard and saved to Recordings"),
            QStringLiteral("The recording could not be saved: disk full. The transcript is on the clipboard")},
        {"save with audio", Road::window, {false, true, true}, Transcript::text, true, false,
            false, false, false, true, false, false, false, QStringLiteral("Transcript saved to Recordings"),
            std::nullopt},
        {"empty transcript is not copied", Road::window, {true, false, false}, Transcript::empty, true, false,
            false, false, false, false, false, true, false, QStringLiteral("No speech was recognised"), {}},
        {"empty transcript saved", Road::window, {true, true, true}, Transcript::empty, true, false,
            false, false, false, true, false, false, false, QStringLiteral("Saved to Recordings. No speech was recognised"),
            QStringLiteral("The recording could not be saved: disk full")},
        {"no model keeps it against the settings", Road::window, {true, false, false}, Transcript::pending, false, false,
            true, false, false, true, false, false, false,
            QStringLiteral("No speech model is ready yet: saved without transcript. ") + later,
            QStringLiteral("The recording could not be saved: disk full")},
        {"failed engine keeps it", Road::window, {false, false, false}, Transcript::pending, true, false,
            true, false, false, true, false, false, false, QStringLiteral("Saved without transcript. ") + later, {}},
        {"pending without a file", Road::window, {false, false, false}, Transcript::pendingWithoutFile, true, false,
            false, false, false, false, false, true, false, QStringLiteral("No speech was recognised"), {}},
        {"half-written file kept", Road::window, {false, false, false}, Transcript::writeFailure, true, false,
            true, false, false, true, false, false, false, QStringLiteral("Transcript saved to Recordings"), {}},
        {"hotkey pastes", Road::hotkey, {false, false, false}, Transcript::text, true, false,
            false, false, false, true, false, false, true, QStringLiteral("Transcript pasted and saved to Recordings"),
            std::nullopt},
        {"hotkey pastes and copies", Road::hotkey, {true, false, false}, Transcript::text, true, false,
            false, true, true, true, false, false, true,
            QStringLiteral("Transcript pasted, copied to clipboard and saved to Recordings"),
            QStringLiteral("The recording could not be saved: disk full. The transcript is on the clipboard")},
        {"hotkey in own window copies quietly", Road::hotkey, {false, false, false}, Transcript::text, true, true,
            false, true, false, true, false, false, false,
            QStringLiteral("Transcript copied to clipboard and saved to Recordings"), {}},
        {"hotkey in own window copies", Road::hotkey, {true, true, true}, Transcript::text, true, true,
            false, true, true, true, false, false, false,
            QStringLiteral("Transcript copied to clipboard and saved to Recordings"), {}},
        {"hotkey saves an empty transcript and never removes", Road::hotkey, {true, false, false}, Transcript::empty,
            true, false, false, false, false, true, false, false, false,
            QStringLiteral("Saved to Recordings. No speech was recognised"), {}},
        {"hotkey without a model", Road::hotkey, {true, false, false}, Transcript::pending, false, false,
            false, false, false, true, false, false, false,
            QStringLiteral("No speech model is ready yet: saved without transcript. ") + later, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AfterRecording plan
            = AfterRecording::decide(resultOf(c.transcript), c.settings, {c.road, c.modelReady, c.ownWindowInFront});
        EXPECT_EQ(plan.road, c.road);
        EXPECT_EQ(plan.keepWithoutTranscript, c.keep);
        EXPECT_EQ(plan.copy, c.copy);
        EXPECT_EQ(plan.announceCopy, c.announce);
        EXPECT_EQ(plan.save, c.save);
        EXPECT_EQ(plan.textOnly, c.textOnly);
        EXPECT_EQ(plan.removeAudio, c.removeAudio);
        EXPECT_EQ(plan.paste, c.paste);
        EXPECT_EQ(plan.outcome.copied, c.copy);
        EXPECT_EQ(plan.outcome.pasted, c.paste);
        EXPECT_EQ(plan.outcome.modelMissing, !c.modelReady);

        auto outcome = plan.outcome;
        outcome.saved = plan.save;
        const auto notice = outcome.notice();
        EXPECT_EQ(notice ? std::optional(notice->text) : std::nullopt, c.notice);
        if (c.noticeAfterFailure) {
            auto failed = plan.outcome;
            failed.saveFailure = QStringLiteral("disk full");
            EXPECT_EQ(failed.notice()->text, *c.noticeAfterFailure);
        }
    }
}

TEST(AfterRecording, SettingsReadTheStoredOptionsOrTheirDefaults)
{
    QTemporaryDir folder;
    platform::UserDefaults defaults(std::filesystem::path(folder.path().toStdString()) / "parlino.conf");
    const auto unset = AfterRecording::Settings::read(defaults);
    EXPECT_EQ(unset.copyToClipboard, SettingsKeys::copyToClipboardAfterRecordingDefault);
    EXPECT_EQ(unset.saveToRecordings, SettingsKeys::saveToRecordingsDefault);
    EXPECT_EQ(unset.saveAudioFile, SettingsKeys::saveAudioFileDefault);

    defaults.setBool(QString::fromLatin1(SettingsKeys::copyToClipboardAfterRecording), false);
    defaults.setBool(QString::fromLatin1(SettingsKeys::saveToRecordings), true);
    defaults.setBool(QString::fromLatin1(SettingsKeys::saveAudioFile), true);
    const auto stored = AfterRecording::Settings::read(defaults);
    EXPECT_FALSE(stored.copyToClipboard);
    EXPECT_TRUE(stored.saveToRecordings);
    EXPECT_TRUE(stored.saveAudioFile);
}
