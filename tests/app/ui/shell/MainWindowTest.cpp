#include "app/ui/support/UiTestFixture.hpp"

#include "app/recorder/RecordingError.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacRecordView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/ui/shell/PushToTalkPill.hpp"
#include "app/ui/shell/TranscriptSheet.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/PNGradientText.hpp"
#include "app/ui/design/PNShimmerModifier.hpp"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTest>

#include <fstream>

using namespace parlino;
using namespace uitest;
using Selection = MacMainView::MainViewSelection;

namespace {

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

class MainWindow : public UiTest {
protected:
    MainWindow() { defaults->setBool(key(SettingsKeys::hasSeenOnboarding), true); }

    MacMainView& open()
    {
        app = std::make_unique<Parlino_macOS>(*defaults, clock, [this]() -> AppServices& { return services(); });
        app->show();
        QApplication::setActiveWindow(app->window());
        QCoreApplication::processEvents();
        clock.advance(1.0);
        return *app->mainView();
    }

    std::filesystem::path audioFile(const std::string& name)
    {
        const std::filesystem::path path = folder / name;
        std::ofstream(path) << "audio";
        return path;
    }

    template <typename T = QWidget>
    T* find(const char* name)
    {
        return child<T>(*app->window(), name);
    }

    std::unique_ptr<Parlino_macOS> app;
    CapturedStdout console;
};

} // namespace

TEST_F(MainWindow, RecordStopTranscribeSaveAndLandInRecordings)
{
    defaults->setBool(key(SettingsKeys::saveToRecordings), true);
    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Work"));
    defaults->setString(key(SettingsKeys::recordingTitle), QStringLiteral("Roadmap <b>review</b>"));
    MacMainView& main = open();
    EXPECT_EQ(main.selectedView(), Selection::record);
    EXPECT_EQ(library->loadCalls, 1);
    EXPECT_EQ(library->syncCalls, 1);

    click(find("startRecordingButton"));
    click(find("startRecordingButton")); // a second click while the first start runs
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_EQ(recorder->startCalls, 1);
    auto* record = find<MacRecordView>("recordView");
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::inProgress);
    EXPECT_TRUE(find("listeningText")->isVisible());
    EXPECT_FALSE(find("liveTranscript")->isVisible());
    EXPECT_EQ(find<design::PNGradientText>("recordingTimer")->text(), QStringLiteral("00:00"));
    recorder->setRecordingDuration(65.9);
    EXPECT_EQ(find<design::PNGradientText>("recordingTimer")->text(), QStringLiteral("01:05"));

    recorder->setTranscription(QStringLiteral("Ship the <i>beta</i> on Friday & tell sales"));
    EXPECT_TRUE(find("liveTranscript")->isVisible());
    EXPECT_FALSE(find("listeningText")->isVisible());
    auto* live = find<QLabel>("liveTranscriptText");
    EXPECT_EQ(live->textFormat(), Qt::PlainText);
    EXPECT_EQ(live->text(), QStringLiteral("Ship the <i>beta</i> on Friday & tell sales"));
    recorder->setTranscription(QString());
    EXPECT_TRUE(find("listeningText")->isVisible());

    click(find("stopRecordingButton"));
    EXPECT_EQ(recorder->stopCalls, 1);
    recorder->publishPreprocessing(QStringLiteral("Normalising <volume>"));
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::preprocessing);
    EXPECT_EQ(find<QLabel>("preprocessingStatus")->text(), QStringLiteral("Normalising <volume>"));
    recorder->publishTranscribing(0.37, QStringLiteral("~3s remaining"));
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::transcribing);
    EXPECT_EQ(find<design::PNGradientText>("transcribingPercent")->text(), QStringLiteral("37%"));
    EXPECT_TRUE(find("transcriptionETA")->isVisible());
    EXPECT_EQ(find<QLabel>("transcriptionETA")->text(), QStringLiteral("~3s remaining"));
    recorder->publishTranscribing(0.999, QString());
    EXPECT_EQ(find<design::PNGradientText>("transcribingPercent")->text(), QStringLiteral("99%"));
    EXPECT_FALSE(find("transcriptionETA")->isVisible());

    const std::filesystem::path audio = audioFile("2025-03-02_0915_Ship the beta.m4a");
    console.clear();
    recorder->finishStop(RecordingResult{audio, QStringLiteral("Ship the beta on Friday"), 65.9,
        QStringLiteral("Ship the beta")});

    EXPECT_EQ(clipboard.text(), QStringLiteral("Ship the beta on Friday"));
    ASSERT_EQ(library->recordings().size(), 1);
    const Recording saved = library->recordings().front();
    EXPECT_EQ(saved.title, QStringLiteral("Roadmap <b>review</b>"));
    EXPECT_EQ(saved.category, RecordingCategory::work);
    EXPECT_TRUE(defaults->contains(key(SettingsKeys::recordingTitle)));
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingTitle)), QString());
    EXPECT_TRUE(find<QLineEdit>("recordingTitleField")->text().isEmpty());
    EXPECT_TRUE(std::filesystem::exists(audio));
    EXPECT_EQ(console.lines(), (QStringList{
        QStringLiteral("📋 Transcription copied to clipboard"),
        QStringLiteral("✅ Recording saved (category: Work)"),
        QStringLiteral("📝 Saved text-only (audio kept for recording entry)"),
    }));
    EXPECT_EQ(main.selectedView(), Selection::recordings);
    EXPECT_FALSE(main.shouldAutoStartRecording());
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::ready);

    // The stop finished once: a late second stop click does not reach the completion again.
    EXPECT_EQ(library->saveCalls, 1);
}

TEST_F(MainWindow, CompletionFollowsTheAfterRecordingSettings)
{
    MacMainView& main = open();
    struct Case {
        const char* name;
        bool copy, save, keepAudio;
        const char* category;
        bool withAudio;
        const char* transcript;
        std::optional<std::string> saveError;
        QStringList lines;
        bool audioRemains;
        QString clipboardAfter;
        // What the window says afterwards; none: the transcript stays on screen in a sheet.
        std::optional<QString> notice;
    };
    const std::vector<Case> cases = {
        {"text only", true, false, false, "Personal", true, "hello", std::nullopt,
            {"📋 Transcription copied to clipboard", "🗑️ Audio file deleted (text-only mode)"}, false, "hello",
            QStringLiteral("Transcript copied to clipboard")},
        {"keep audio, no save", false, false, true, "Personal", true, "hello", std::nullopt, {}, true, "before",
            std::nullopt},
        {"no file to delete", true, false, false, "Personal", false, "", std::nullopt,
            {"🗑️ Audio file deleted (text-only mode)"}, false, "before", QStringLiteral("No speech was recognised")},
        {"save fails", true, true, false, "Idea", false, "", std::nullopt,
            {"❌ Save failed: invalidAudioFile", "📝 Saved text-only (audio kept for recording entry)"}, false,
            "before", QStringLiteral("The recording could not be saved: invalidAudioFile")},
        {"save with audio kept", false, true, true, "Nonsense", true, "remember milk", std::nullopt,
            {"✅ Recording saved (category: Personal)"}, true, "before", QStringLiteral("Transcript saved to Recordings")},
        {"stored All", true, true, true, "All", true, "x", std::nullopt,
            {"📋 Transcription copied to clipboard", "✅ Recording saved (category: Personal)"}, true, "x",
            QStringLiteral("Transcript copied to clipboard and saved to Recordings")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults->setBool(key(SettingsKeys::copyToClipboardAfterRecording), c.copy);
        defaults->setBool(key(SettingsKeys::saveToRecordings), c.save);
        defaults->setBool(key(SettingsKeys::saveAudioFile), c.keepAudio);
        defaults->setString(key(SettingsKeys::selectedRecordingCategory), QString::fromUtf8(c.category));
        defaults->setString(key(SettingsKeys::recordingTitle), QStringLiteral("Pending"));
        clipboard.contents = QStringLiteral("before");
        library->nextSaveError = c.saveError;
        const int savesBefore = library->saveCalls;
        RecordingResult result;
        std::filesystem::path audio;
        if (c.withAudio) {
            audio = audioFile(std::string(c.name) + ".m4a");
            result.audioURL = audio;
        }
        result.transcription = QString::fromUtf8(c.transcript);
        main.setSelectedView(Selection::settings);
        console.clear();

        main.handleRecordingComplete(result);

        QStringList expected;
        for (const QString& line : c.lines) {
            expected << line;
        }
        EXPECT_EQ(console.lines(), expected);
        EXPECT_EQ(clipboard.text(), c.clipboardAfter);
        if (c.withAudio) {
            EXPECT_EQ(std::filesystem::exists(audio), c.audioRemains);
        }
        EXPECT_EQ(library->saveCalls - savesBefore, c.save ? 1 : 0);
        const bool saved = c.save && c.withAudio;
        EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingTitle)), saved ? QString() : QStringLiteral("Pending"));
        if (saved) {
            EXPECT_EQ(library->recordings().front().title, QStringLiteral("Pending"));
            EXPECT_EQ(library->recordings().front().category, RecordingCategory::personal);
        }
        EXPECT_EQ(main.selectedView(), Selection::recordings);
        auto* sheet = app->window()->findChild<TranscriptSheet*>();
        if (c.notice) {
            ASSERT_TRUE(StatusNotice::of(main));
            EXPECT_EQ(StatusNotice::of(main)->message(), *c.notice);
            EXPECT_FALSE(sheet);
        } else {
            // Nothing would keep the text: it stays on screen until copied.
            ASSERT_TRUE(sheet);
            EXPECT_EQ(sheet->transcript(), QString::fromUtf8(c.transcript));
            click(child<QPushButton>(*sheet, "copyTranscriptButton"));
            EXPECT_EQ(clipboard.text(), QString::fromUtf8(c.transcript));
            EXPECT_EQ(StatusNotice::of(main)->message(), QStringLiteral("Transcript copied to clipboard"));
            QCoreApplication::processEvents();
            EXPECT_FALSE(app->window()->findChild<TranscriptSheet*>());
            clipboard.contents = QStringLiteral("before");
        }
        // The notice goes by itself.
        timer.advance(StatusNotice::shownFor);
        EXPECT_EQ(StatusNotice::of(main)->message(), QString());
    }

    // Not transcribed (no model, an engine failure) or not wholly written: kept and listed under
    // the text-only settings too.
    defaults->setBool(key(SettingsKeys::saveToRecordings), false);
    defaults->setBool(key(SettingsKeys::saveAudioFile), false);
    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Personal"));
    for (const bool writeFailed : {false, true}) {
        SCOPED_TRACE(writeFailed ? "write failed" : "no transcript");
        // No model yet for the first; the second had one and still could not finish.
        recorder->setAurisReady(writeFailed);
        RecordingResult result;
        const auto audio = audioFile(writeFailed ? "cut.m4a" : "pending.m4a");
        result.audioURL = audio;
        result.transcriptPending = true;
        if (writeFailed) {
            result.writeFailure = QStringLiteral("No space left on device");
        }
        const int savesBefore = library->saveCalls;
        console.clear();
        main.handleRecordingComplete(result);
        EXPECT_EQ(console.lines(), (QStringList {
            QStringLiteral("💾 Keeping the recording without a transcript: ") + QString::fromStdString(audio.filename().string()),
            QStringLiteral("✅ Recording saved (category: Personal)")}));
        EXPECT_TRUE(std::filesystem::exists(audio));
        EXPECT_EQ(library->saveCalls - savesBefore, 1);
        EXPECT_EQ(library->recordings().front().transcription, QString());
        EXPECT_EQ(StatusNotice::of(main)->message(),
            (writeFailed ? QStringLiteral("Saved without transcript. ")
                         : QStringLiteral("No speech model is ready yet: saved without transcript. "))
                + QStringLiteral("Use 'ReTranscribe' button later to add transcription"));
    }
}

TEST_F(MainWindow, TheCategoryGoesToTheRecordingJustSavedEvenWhenAnotherLandsFirst)
{
    MacMainView& main = open();
    defaults->setBool(key(SettingsKeys::saveToRecordings), true);
    defaults->setBool(key(SettingsKeys::saveAudioFile), true);
    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Meeting"));
    defaults->setString(key(SettingsKeys::recordingTitle), QStringLiteral("Weekly sync"));
    Recording synced;
    synced.id = QUuid::createUuid();
    synced.title = QStringLiteral("From the other computer");
    synced.category = RecordingCategory::idea;
    library->arrivesWithNextSave = synced;

    main.handleRecordingComplete(RecordingResult{audioFile("a.m4a"), QStringLiteral("notes"), 3, std::nullopt});

    ASSERT_EQ(library->recordings().size(), 2);
    const Recording& front = library->recordings()[0];
    const Recording& ours = library->recordings()[1];
    EXPECT_EQ(front.id, synced.id);
    EXPECT_EQ(front.category, RecordingCategory::idea);
    EXPECT_EQ(front.title, QStringLiteral("From the other computer"));
    EXPECT_EQ(ours.category, RecordingCategory::meeting);
    EXPECT_EQ(ours.title, QStringLiteral("Weekly sync"));
}

TEST_F(MainWindow, HotkeyStartsOnTheShownRecordScreenAndItsStopSavesCopiesAndPastesElsewhere)
{
    MacMainView& main = open();
    // The Record screen is already on display: the press alone must start the recording.
    hotkey.press();
    EXPECT_EQ(dictationHelper.sounds, std::vector<FeedbackSound>{FeedbackSound::start});
    EXPECT_EQ(main.selectedView(), Selection::record);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_TRUE(waitFor([&] { return !main.shouldAutoStartRecording(); }));
    EXPECT_EQ(recorder->startCalls, 1);

    // The user went to another application to dictate into it.
    QApplication::setActiveWindow(nullptr);
    ASSERT_TRUE(waitFor([] { return QApplication::activeWindow() == nullptr; }));
    console.clear();
    hotkey.press();
    hotkey.press(); // pressed again before the first stop has finished
    EXPECT_EQ(recorder->stopCalls, 1);
    recorder->finishStop(RecordingResult{std::nullopt, QStringLiteral("Dear team"), 2, std::nullopt});
    EXPECT_EQ(dictationHelper.sounds.back(), FeedbackSound::stop);
    EXPECT_EQ(dictationHelper.pastes, std::vector<QString>{QStringLiteral("Dear team")});
    EXPECT_EQ(clipboard.text(), QStringLiteral("Dear team"));
    EXPECT_EQ(console.lines(), (QStringList{
        QStringLiteral("❌ Save failed: invalidAudioFile"),
        QStringLiteral("📋 Transcription copied to clipboard (hotkey)"),
    }));
    EXPECT_EQ(main.selectedView(), Selection::record);

    // With our own window in front the transcript is copied, never typed into our own fields.
    // The category and pending title the record screen shows go to the recording, as on the
    // in-window road, and the title is used up.
    defaults->setString(key(SettingsKeys::selectedRecordingCategory), QStringLiteral("Meeting"));
    defaults->setString(key(SettingsKeys::recordingTitle), QStringLiteral("Standup"));
    recorder->setIsRecording(true);
    QApplication::setActiveWindow(app->window());
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == app->window(); }));
    hotkey.press();
    recorder->finishStop(RecordingResult{audioFile("b.m4a"), QStringLiteral("Second"), 1, std::nullopt});
    EXPECT_EQ(dictationHelper.pastes.size(), 1u);
    EXPECT_EQ(clipboard.text(), QStringLiteral("Second"));
    ASSERT_EQ(library->recordings().size(), 1u); // the hotkey road always saves
    EXPECT_EQ(library->recordings().front().category, RecordingCategory::meeting);
    EXPECT_EQ(library->recordings().front().title, QStringLiteral("Standup"));
    EXPECT_EQ(defaults->stringValue(key(SettingsKeys::recordingTitle)), QString());

    // Copying turned off: our own window in front still leaves the transcript on the clipboard.
    defaults->setBool(key(SettingsKeys::copyToClipboardAfterRecording), false);
    recorder->setIsRecording(true);
    console.clear();
    hotkey.press();
    recorder->finishStop(RecordingResult{audioFile("c.m4a"), QStringLiteral("Third"), 1, std::nullopt});
    EXPECT_EQ(dictationHelper.pastes.size(), 1u);
    EXPECT_EQ(clipboard.text(), QStringLiteral("Third"));
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("✅ Recording saved to computer")});

    // Pressed while transcribing: nothing at all.
    recorder->setIsTranscribing(true);
    const std::size_t sounds = dictationHelper.sounds.size();
    hotkey.press();
    EXPECT_EQ(dictationHelper.sounds.size(), sounds);
    EXPECT_EQ(recorder->startCalls, 1);
}

TEST_F(MainWindow, HotkeyFromAnotherDestinationBringsBackTheRecordScreenAndStarts)
{
    MacMainView& main = open();
    main.setSelectedView(Selection::recordings);
    app->window()->hide();
    hotkey.press();
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_EQ(main.selectedView(), Selection::record);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_FALSE(main.shouldAutoStartRecording());
}

TEST_F(MainWindow, OneAppearanceRunsTheStartUpStepOnceAndAsksForPermissionWhenNeeded)
{
    globeDictation.setCapsLockTriggerEnabled(true);
    globeDictation.setNeedsAccessibilityPermission(true);
    MacMainView& main = open();
    EXPECT_EQ(library->loadCalls, 1);
    auto* alert = app->window()->findChild<QMessageBox*>(QStringLiteral("accessibilityAlert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("Enable Push-to-Talk Dictation?"));
    EXPECT_EQ(alert->informativeText().split(QLatin1Char('\n')).size(), 19);
    EXPECT_EQ(alert->textFormat(), Qt::PlainText);
    auto* allow = alert->findChild<QPushButton*>(QStringLiteral("allowAccessibilityButton"));
    ASSERT_NE(allow, nullptr);
    EXPECT_EQ(allow->text(), QStringLiteral("Allow && Open Settings"));
    saveScreenshot(*alert, QStringLiteral("accessibility-alert"));
    click(allow);
    EXPECT_EQ(globeDictation.permissionRequests, 1);
    EXPECT_TRUE(waitFor([&] { return !main.showAccessibilityAlert(); }));

    // Another show event of the same appearance (a window restored) runs nothing again.
    QShowEvent again;
    QCoreApplication::sendEvent(&main, &again);
    EXPECT_EQ(library->loadCalls, 1);
    EXPECT_FALSE(main.showAccessibilityAlert());

    // The permission lost again raises the alert; "Not Now" only closes it.
    globeDictation.setNeedsAccessibilityPermission(false);
    EXPECT_FALSE(main.showAccessibilityAlert());
    globeDictation.setNeedsAccessibilityPermission(true);
    ASSERT_TRUE(main.showAccessibilityAlert());
    click(app->window()->findChild<QPushButton*>(QStringLiteral("notNowButton")));
    EXPECT_TRUE(waitFor([&] { return !main.showAccessibilityAlert(); }));
    EXPECT_EQ(globeDictation.permissionRequests, 1);
    // Found missing again (a retry, a trigger switched) is no change: "Not Now" holds.
    globeDictation.setNeedsAccessibilityPermission(true, QStringLiteral("the X server has no RECORD extension"));
    EXPECT_FALSE(main.showAccessibilityAlert());

    // A new appearance (the window closed and shown again) runs the step again.
    app->window()->hide();
    app->window()->show();
    EXPECT_EQ(library->loadCalls, 2);
    EXPECT_TRUE(main.showAccessibilityAlert());
}

TEST_F(MainWindow, NoTriggerNoAlertAndThePillFollowsDictation)
{
    globeDictation.setNeedsAccessibilityPermission(true);
    MacMainView& main = open();
    EXPECT_FALSE(main.showAccessibilityAlert());
    globeDictation.setNeedsAccessibilityPermission(false);
    globeDictation.setNeedsAccessibilityPermission(true);
    EXPECT_FALSE(main.showAccessibilityAlert());

    auto* pill = find<PushToTalkPill>("pushToTalkPill");
    EXPECT_FALSE(pill->isVisible());
    globeDictation.setIsActive(true);
    clock.advance(1.0);
    EXPECT_TRUE(pill->isVisible());
    EXPECT_NEAR(pill->presence(), 1, 0.01);
    saveScreenshot(*app->window(), QStringLiteral("push-to-talk"));
    globeDictation.setIsActive(false);
    clock.advance(1.5);
    EXPECT_FALSE(pill->isVisible());
}

TEST_F(MainWindow, RecordScreenPicksItsScreenAndReportsStartAndWriteFailures)
{
    open();
    auto* record = find<MacRecordView>("recordView");
    recorder->setIsPreprocessing(true);
    recorder->setIsTranscribing(true);
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::preprocessing);
    recorder->setIsRecording(true);
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::inProgress);
    recorder->setIsRecording(false);
    recorder->setIsPreprocessing(false);
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::transcribing);
    recorder->setIsTranscribing(false);
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::ready);

    recorder->nextStartError = std::make_exception_ptr(RecordingError(RecordingError::microphoneAccessDenied));
    console.clear();
    click(find("startRecordingButton"));
    ASSERT_TRUE(waitFor([&] { return !console.lines().isEmpty(); }));
    EXPECT_EQ(console.lines(),
        QStringList{QStringLiteral("Failed to start recording: Microphone access denied. Enable in Settings.")});
    EXPECT_EQ(record->currentScreen(), MacRecordView::Screen::ready);
    auto* alert = find<QMessageBox>("recordingProblemAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), QStringLiteral("Recording could not start: Microphone access denied. Enable in Settings."));
    alert->close();

    // The disk fills mid-recording: the recording ends with the recorder's message on screen, and
    // what reached the disk is kept although only text is kept otherwise.
    const QString full = QStringLiteral("Recording stopped: the audio could not be written (No space left on device). "
                                        "What was recorded until then is kept in recording_cut.m4a.");
    recorder->setIsRecording(true);
    emit recorder->recordingInterrupted(full);
    ASSERT_TRUE(recorder->hasPendingStop());
    alert = find<QMessageBox>("recordingProblemAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), full);
    RecordingResult cut;
    cut.audioURL = audioFile("recording_cut.m4a");
    cut.writeFailure = QStringLiteral("No space left on device");
    cut.transcriptPending = true;
    const int saves = library->saveCalls;
    recorder->finishStop(cut);
    EXPECT_EQ(library->saveCalls, saves + 1);
    EXPECT_TRUE(std::filesystem::exists(*cut.audioURL));
    alert->close();

    // Asked to auto-start while a transcription runs: nothing starts and the request waits.
    recorder->setIsTranscribing(true);
    const int starts = recorder->startCalls;
    hotkey.press(); // ignored while transcribing
    record->checkAutoStart();
    EXPECT_EQ(recorder->startCalls, starts);
}

TEST_F(MainWindow, ModelDownloadShowsItsProgressAndCancels)
{
    open();
    EXPECT_FALSE(find("modelDownloadSection")->isVisible());
    recorder->setIsInitializingAuris(true);
    recorder->setAurisInitProgress(0.1);
    EXPECT_TRUE(find("modelDownloadSection")->isVisible());
    EXPECT_EQ(find<design::PNGradientText>("modelDownloadPercent")->text(), QStringLiteral("10%"));
    recorder->setAurisInitProgress(0.9);
    EXPECT_EQ(find<design::PNGradientText>("modelDownloadPercent")->text(), QStringLiteral("90%"));
    click(find("cancelDownloadButton"));
    EXPECT_EQ(recorder->cancelCalls, 1);
    EXPECT_FALSE(find("modelDownloadSection")->isVisible());
}

TEST_F(MainWindow, TheMicrophoneEmblemStartsARecordingAndThePulsingOneStopsIt)
{
    MacMainView& main = open();
    auto* emblem = find("heroIcon");
    EXPECT_EQ(emblem->cursor().shape(), Qt::PointingHandCursor);
    click(emblem);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_EQ(recorder->startCalls, 1);
    click(find("recordingPulse"));
    EXPECT_EQ(recorder->stopCalls, 1);
    // A press that leaves the emblem before its release is no click.
    recorder->finishStop(RecordingResult {audioFile("a.m4a"), QStringLiteral("hi"), 1, std::nullopt});
    ASSERT_TRUE(waitFor([&] { return !recorder->isRecording(); }));
    main.setSelectedView(Selection::record);
    QCoreApplication::processEvents();
    QTest::mousePress(emblem, Qt::LeftButton, {}, emblem->rect().center());
    QTest::mouseRelease(emblem, Qt::LeftButton, {}, QPoint(-5, -5));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder->startCalls, 1);
}
