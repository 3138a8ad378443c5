#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacOnboardingView.hpp"
#include "app/ui/shell/MacRecordView.hpp"
#include "app/ui/settings/MacSettingsView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/PNButton.hpp"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

using namespace parlino;
using namespace uitest;

namespace {

class ScreensLook : public UiTest {};

} // namespace

TEST_F(ScreensLook, EveryRecordScreenIsAFinishedPicture)
{
    Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return services(); });
    app.show();
    QCoreApplication::processEvents();
    clock.advance(1.0);
    const QImage onboarding = saveScreenshot(*app.window(), QStringLiteral("onboarding"));
    EXPECT_EQ(onboarding.size(), QSize(500, 400));
    EXPECT_GT(distinctColours(onboarding), 20);

    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    ASSERT_NE(app.mainView(), nullptr);
    QCoreApplication::processEvents();
    clock.advance(1.5);
    // The window fits the 1280 x 720 screen; the button may lie below its fold.
    auto* start = child<design::PNButton>(*app.window(), "startRecordingButton");
    auto* scroll = child<QScrollArea>(*app.window(), "recordScroll");
    scroll->ensureWidgetVisible(start);
    const QImage ready = saveScreenshot(*app.window(), QStringLiteral("ready"));
    EXPECT_GT(distinctColours(ready), 40);
    const QRect startArea(start->mapTo(app.window(), start->buttonRect().topLeft()), start->buttonRect().size());
    EXPECT_GT(shareOfPixels(ready, startArea, isBrandBlue), 0.5);

    click(start);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    recorder->setRecordingDuration(65.9);
    clock.advance(1.5);
    auto* stop = child<design::PNButton>(*app.window(), "stopRecordingButton");
    scroll->ensureWidgetVisible(stop);
    const QImage recording = saveScreenshot(*app.window(), QStringLiteral("recording"));
    const QRect stopArea(stop->mapTo(app.window(), stop->buttonRect().topLeft()), stop->buttonRect().size());
    EXPECT_GT(shareOfPixels(recording, stopArea, isDangerRed), 0.5);

    recorder->setTranscription(QStringLiteral(
        "Tomorrow at nine we meet the design team to review the new onboarding flow, then we write up the "
        "notes & decisions for everyone who could not join."));
    clock.advance(0.5);
    saveScreenshot(*app.window(), QStringLiteral("recording-live"));

    click(stop);
    recorder->publishPreprocessing(QStringLiteral("Resampling to 16 kHz, high-pass 80 Hz, normalising to -3 dB"));
    clock.advance(1.2);
    saveScreenshot(*app.window(), QStringLiteral("preprocessing"));
    recorder->publishTranscribing(0.37, QStringLiteral("~4s remaining"));
    clock.advance(1.2);
    saveScreenshot(*app.window(), QStringLiteral("transcribing"));

    recorder->setIsInitializingAuris(true);
    recorder->setAurisInitProgress(0.42);
    recorder->finishStop(RecordingResult{});
    app.mainView()->setSelectedView(MacMainView::MainViewSelection::record);
    clock.advance(1.5);
    saveScreenshot(*app.window(), QStringLiteral("ready-downloading"));
}

TEST_F(ScreensLook, EverySettingsSectionIsAFinishedPicture)
{
    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return services(); });
    app.show();
    QCoreApplication::processEvents();
    app.mainView()->setSelectedView(MacMainView::MainViewSelection::settings);
    QCoreApplication::processEvents();
    auto* settings = qobject_cast<MacSettingsView*>(app.mainView()->currentScreen());
    ASSERT_NE(settings, nullptr);

    globeDictation.setCapsLockTriggerEnabled(true);
    globeDictation.setNeedsAccessibilityPermission(true);
    hotkey.shownText = QStringLiteral("⌃⌥Space");
    hotkey.registerHotkey(0x0C0000, 49);
    defaults->setString(QString::fromLatin1(RecorderService::preferredTranscriptionLanguageKey), QStringLiteral("sk"));
    exportManager->setExportFolderURL(folder / "Exports" / "Shared drives" / "Team recordings & transcripts"
        / "A rather long folder name that does not fit on one line at all" / "2025" / "Parlino");
    exportManager->setExportError(QStringLiteral("Export failed: The export folder cannot be the recordings folder, lie inside it or contain it"));
    recorder->setAurisReady(true);
    clock.advance(1.0);
    const QImage top = saveScreenshot(*app.window(), QStringLiteral("settings"));
    EXPECT_GT(distinctColours(top), 40);

    auto* form = child<QWidget>(*settings, "settingsForm");
    const QImage whole = saveScreenshot(*form, QStringLiteral("settings-all-sections"));
    EXPECT_GT(whole.height(), top.height());

    recorder->setAurisReady(false);
    recorder->setIsInitializingAuris(true);
    recorder->setAurisInitProgress(0.42);
    clock.advance(0.5);
    saveScreenshot(*app.window(), QStringLiteral("settings-model-downloading"));

    auto* scroll = child<QScrollArea>(*settings, "settingsScroll");
    scroll->ensureWidgetVisible(child<QWidget>(*settings, "pushToTalkSection"), 0, 0);
    clock.advance(0.5);
    saveScreenshot(*app.window(), QStringLiteral("settings-push-to-talk"));
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    clock.advance(0.5);
    saveScreenshot(*app.window(), QStringLiteral("settings-export-about"));
}
