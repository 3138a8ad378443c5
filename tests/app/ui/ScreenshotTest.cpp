#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacOnboardingView.hpp"
#include "app/ui/shell/MacRecordView.hpp"
#include "app/ui/settings/MacSettingsView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/Theme.hpp"
#include "app/ui/settings/FeedbackView.hpp"
#include "app/ui/settings/HelpView.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/ui/shell/WindowPlacement.hpp"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>

using namespace parlino;
using namespace uitest;

namespace {

class ScreensLook : public UiTest {};

class LaptopScreens : public RecordingsTest {
protected:
    ~LaptopScreens() override { design::Theme::apply(*qApp); }
};

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
    hotkey.shownText = QStringLiteral("Ctrl+Alt+Space");
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

// The main screens as the first window shows them on the usual laptop and desktop screens, in both
// appearances, for a person to look over: build/test-artifacts/ui/laptop-<screen>-<appearance>-<name>.png.
TEST_F(LaptopScreens, EveryMainScreenOnEveryScreenSizeInBothAppearances)
{
    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    library->setList(samples());
    recorder->setAurisReady(true);
    for (const design::Appearance appearance : {design::Appearance::light, design::Appearance::dark}) {
        design::Theme::apply(*qApp, appearance);
        const QString look = appearance == design::Appearance::dark ? QStringLiteral("dark") : QStringLiteral("light");
        for (const QSize screen : {QSize(1280, 720), QSize(1366, 768), QSize(1920, 1080)}) {
            const QString prefix = QStringLiteral("laptop-%1x%2-%3-").arg(screen.width()).arg(screen.height()).arg(look);
            SCOPED_TRACE(prefix.toStdString());
            Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return services(); });
            app.show();
            QWidget& window = *app.window();
            window.resize(WindowPlacement::firstFrame(QSize(1120, 960), QSize(900, 600), QRect(QPoint(), screen)).size());
            app.mainView()->setSelectedView(MacMainView::MainViewSelection::record);
            clock.advance(1.5);
            const QImage ready = saveScreenshot(window, prefix + QStringLiteral("ready"));
            EXPECT_GT(distinctColours(ready), 40);
            // The microphone in the emblem is white in both appearances.
            auto* hero = child<QWidget>(window, "heroIcon");
            const QPoint middle = hero->mapTo(&window, hero->rect().center());
            EXPECT_GT(shareOfPixels(ready, QRect(middle - QPoint(20, 40), QSize(40, 80)),
                          [](QColor c) { return c.lightness() > 230; }),
                0.1);

            click(child<design::PNButton>(window, "startRecordingButton"));
            ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
            recorder->setRecordingDuration(65.9);
            recorder->setTranscription(QStringLiteral("Tomorrow at nine we meet the design team to review the new "
                                                      "onboarding flow."));
            clock.advance(1.5);
            saveScreenshot(window, prefix + QStringLiteral("recording"));

            click(child<design::PNButton>(window, "stopRecordingButton"));
            recorder->publishTranscribing(0.37, QStringLiteral("~4s remaining"));
            clock.advance(1.2);
            saveScreenshot(window, prefix + QStringLiteral("transcribing"));
            recorder->finishStop(RecordingResult{});
            clock.advance(1.5);
            // The stop's notice has its own screenshots; the screens after it are seen once it has gone.
            timer.advance(StatusNotice::shownFor);
            clock.advance(0.5);

            app.mainView()->setSelectedView(MacMainView::MainViewSelection::recordings);
            clock.advance(1.5);
            saveScreenshot(window, prefix + QStringLiteral("recordings"));
            auto* list = qobject_cast<MacRecordingsListView*>(app.mainView()->currentScreen());
            ASSERT_NE(list, nullptr);
            list->setSelectedRecording(byTitle(QStringLiteral("Team Standup")).id);
            clock.advance(1.5);
            saveScreenshot(window, prefix + QStringLiteral("detail"));

            click(child<QWidget>(window, "helpButton"));
            QPointer<HelpView> help = window.findChild<HelpView*>();
            ASSERT_TRUE(help);
            ASSERT_TRUE(waitFor([&] { return help->isVisible(); }));
            clock.advance(0.5);
            saveScreenshot(*help, prefix + QStringLiteral("help"));
            help->close();
            ASSERT_TRUE(waitFor([&] { return help.isNull(); }));

            click(child<QWidget>(window, "feedbackButton"));
            QPointer<FeedbackView> feedback = window.findChild<FeedbackView*>();
            ASSERT_TRUE(feedback);
            ASSERT_TRUE(waitFor([&] { return feedback->isVisible(); }));
            clock.advance(0.5);
            saveScreenshot(*feedback, prefix + QStringLiteral("feedback"));
            feedback->close();
            ASSERT_TRUE(waitFor([&] { return feedback.isNull(); }));

            app.mainView()->setSelectedView(MacMainView::MainViewSelection::settings);
            clock.advance(1.5);
            saveScreenshot(window, prefix + QStringLiteral("settings"));
            window.close();
        }
    }
}
