#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/settings/FeedbackView.hpp"
#include "app/ui/settings/HelpView.hpp"
#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/MacRecordView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/ui/shell/WindowPlacement.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/ElidedLabel.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/ScaleFadeEffect.hpp"
#include "app/ui/design/Theme.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using namespace parlino;
using namespace uitest;
using Selection = MacMainView::MainViewSelection;

namespace {

// A text that shows less than it holds: cut off at the side or bottom (an elided label shows "…" by design).
bool isTextCut(const QWidget& widget)
{
    const auto* label = qobject_cast<const QLabel*>(&widget);
    if (!label || label->text().isEmpty() || qobject_cast<const design::ElidedLabel*>(&widget)) {
        return false;
    }
    if (label->wordWrap()) {
        return label->height() < label->heightForWidth(label->width());
    }
    return label->width() < label->sizeHint().width() || label->height() < label->fontMetrics().height();
}

bool isControl(const QWidget& widget)
{
    return qobject_cast<const QAbstractButton*>(&widget) || qobject_cast<const QComboBox*>(&widget)
        || qobject_cast<const QLineEdit*>(&widget) || qobject_cast<const QAbstractSlider*>(&widget)
        || (qobject_cast<const QAbstractItemView*>(&widget) && !qobject_cast<const QComboBox*>(widget.parent()));
}

// Scrolls every scroll area around the widget so that it is in view.
void bringIntoView(const QPointer<QWidget>& widget)
{
    // Twice: a scroll can change the layout (and so the range) of an outer area.
    for (int pass = 0; pass < 2 && widget; ++pass) {
        for (QWidget* above = widget->parentWidget(); above; above = above->parentWidget()) {
            auto* scroll = qobject_cast<QScrollArea*>(above);
            if (scroll && scroll->widget() && scroll->widget()->isAncestorOf(widget)) {
                // Only along the bars a user has: a pane without a horizontal bar cannot be scrolled sideways.
                const QRect area(widget->mapTo(scroll->widget(), QPoint(0, 0)), widget->size());
                const bool sideways = scroll->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
                scroll->ensureVisible(sideways ? area.center().x() : scroll->horizontalScrollBar()->value(),
                    area.center().y(), sideways ? area.width() / 2 + 1 : 0, area.height() / 2 + 1);
            }
        }
        QCoreApplication::processEvents();
    }
}

// What is wrong with where the control sits: outside the window, cut by a widget around it, or
// narrower than its text needs.
QString misplacement(const QPointer<QWidget>& found, QWidget& window)
{
    bringIntoView(found);
    if (!found || !found->isVisible()) {
        return {};
    }
    QWidget& control = *found;
    const QRect own(control.mapTo(&window, QPoint(0, 0)), control.size());
    QRect shown = own.intersected(window.rect());
    for (QWidget* above = control.parentWidget(); above && above != &window; above = above->parentWidget()) {
        shown = shown.intersected(QRect(above->mapTo(&window, QPoint(0, 0)), above->size()));
    }
    if (shown != own) {
        return QStringLiteral("%1 at (%2,%3 %4x%5) shows only (%6,%7 %8x%9)")
            .arg(control.objectName())
            .arg(own.x()).arg(own.y()).arg(own.width()).arg(own.height())
            .arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height());
    }
    const bool textControl = qobject_cast<QAbstractButton*>(&control) || qobject_cast<QComboBox*>(&control);
    if (textControl && control.width() < control.minimumSizeHint().width()) {
        return QStringLiteral("%1 is %2 wide, its text needs %3")
            .arg(control.objectName())
            .arg(control.width())
            .arg(control.minimumSizeHint().width());
    }
    return {};
}

QStringList misplacedControls(QWidget& window)
{
    QStringList problems;
    QList<QPointer<QWidget>> widgets;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        widgets.append(widget);
    }
    // Scrolling runs the event loop, which may take widgets away.
    for (const QPointer<QWidget>& widget : widgets) {
        if (widget && widget->isVisible() && isTextCut(*widget)) {
            problems << QStringLiteral("text of %1 cut: \"%2\"")
                            .arg(widget->objectName(), qobject_cast<QLabel*>(widget.data())->text().left(40));
        }
        if (widget && isControl(*widget) && widget->isVisible()) {
            const QString problem = misplacement(widget, window);
            if (!problem.isEmpty()) {
                problems << problem;
            }
        }
    }
    return problems;
}

class DesktopWindow : public RecordingsTest {
protected:
    DesktopWindow() { defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true); }
    ~DesktopWindow() override
    {
        app.reset();
        design::Font::setScale(1);
        design::Theme::apply(*qApp);
    }

    Parlino_macOS& launch()
    {
        app = std::make_unique<Parlino_macOS>(*defaults, clock, [this]() -> AppServices& { return services(); });
        app->show();
        QApplication::setActiveWindow(app->window());
        QCoreApplication::processEvents();
        clock.advance(1.0);
        return *app;
    }

    MacMainView& main() { return *app->mainView(); }
    QWidget& window() { return *app->window(); }

    template <typename T = QWidget>
    T* inWindow(const char* name)
    {
        return child<T>(window(), name);
    }

    // Each screen the window can show, checked where it stands.
    void expectEveryScreenFits(const QString& when)
    {
        const auto check = [&](const QString& screen) {
            clock.advance(1.5);
            for (int pass = 0; pass < 4; ++pass) {
                QCoreApplication::processEvents();
            }
            const QStringList problems = misplacedControls(window());
            EXPECT_TRUE(problems.isEmpty()) << (when + QLatin1Char(' ') + screen + QStringLiteral(":\n  ")
                + problems.join(QStringLiteral("\n  "))).toStdString();
        };
        // The record screens' main button is in view as they come, with no scrolling: the panel
        // above it scrolls in its own box instead.
        const auto expectButtonInView = [&](const char* name, const QString& screen) {
            clock.advance(1.5);
            QCoreApplication::processEvents();
            auto* scroll = inWindow<QScrollArea>("recordScroll");
            EXPECT_EQ(scroll->verticalScrollBar()->maximum(), 0) << (when + QLatin1Char(' ') + screen).toStdString();
            QWidget* button = inWindow(name);
            const QRect own(button->mapTo(&window(), QPoint(0, 0)), button->size());
            QRect shown = own.intersected(window().rect());
            for (QWidget* above = button->parentWidget(); above && above != &window(); above = above->parentWidget()) {
                shown = shown.intersected(QRect(above->mapTo(&window(), QPoint(0, 0)), above->size()));
            }
            EXPECT_EQ(shown, own) << (when + QLatin1Char(' ') + screen + QLatin1Char(' ') + QLatin1String(name)).toStdString();
        };
        main().setSelectedView(Selection::record);
        expectButtonInView("startRecordingButton", QStringLiteral("ready"));
        check(QStringLiteral("ready"));
        recorder->setIsInitializingAuris(true);
        recorder->setAurisInitProgress(0.4);
        expectButtonInView("startRecordingButton", QStringLiteral("ready while downloading"));
        check(QStringLiteral("ready while downloading"));
        recorder->setIsInitializingAuris(false);
        recorder->setIsRecording(true);
        recorder->setTranscription(QStringLiteral("A long live transcript that runs over several lines of the "
                                                  "recording screen so that it has to wrap and maybe scroll."));
        expectButtonInView("stopRecordingButton", QStringLiteral("recording"));
        check(QStringLiteral("recording"));
        recorder->setIsRecording(false);
        recorder->publishPreprocessing(QStringLiteral("Resampling to 16 kHz, high-pass 80 Hz, normalising to -3 dB"));
        check(QStringLiteral("preprocessing"));
        recorder->publishTranscribing(0.5, QStringLiteral("~4s remaining"));
        check(QStringLiteral("transcribing"));
        recorder->setIsTranscribing(false);

        main().setSelectedView(Selection::recordings);
        auto* list = qobject_cast<MacRecordingsListView*>(main().currentScreen());
        list->setSelectedRecording(library->recordings().front().id);
        check(QStringLiteral("recording detail"));
        if (design::Font::scale() == 1.5) {
            saveScreenshot(window(), QStringLiteral("detail-900x600-large-font"));
        }
        click(inWindow("detailCategoryItem"));
        check(QStringLiteral("recording detail choosing a category"));
        main().setSelectedView(Selection::settings);
        check(QStringLiteral("settings"));

        const auto checkSheet = [&](QWidget* sheet, const QString& name) {
            clock.advance(1.0);
            const QStringList problems = misplacedControls(*sheet);
            EXPECT_TRUE(problems.isEmpty()) << (when + QLatin1Char(' ') + name + QStringLiteral(":\n  ")
                + problems.join(QStringLiteral("\n  "))).toStdString();
            sheet->close();
        };
        checkSheet(HelpView::present(&main()), QStringLiteral("help"));
        checkSheet(FeedbackView::present(urlOpener, &main()), QStringLiteral("feedback"));
    }

    void expectEveryOnboardingPageFits(const QString& when)
    {
        defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), false);
        launch();
        for (int page = 0; page < 4; ++page) {
            clock.advance(1.0);
            const QStringList problems = misplacedControls(window());
            EXPECT_TRUE(problems.isEmpty()) << (when + QStringLiteral(" onboarding page %1:\n  ").arg(page)
                + problems.join(QStringLiteral("\n  "))).toStdString();
            if (page < 3) {
                click(inWindow("onboardingButton"));
            } else if (design::Font::scale() == 1.5) {
                saveScreenshot(window(), QStringLiteral("onboarding-large-font"));
            }
        }
        app.reset();
        defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    }

    std::unique_ptr<Parlino_macOS> app;
};

} // namespace

TEST_F(DesktopWindow, EveryControlOfEveryScreenStaysInsideTheSmallestWindowAtLargerFonts)
{
    QList<Recording> recordings = samples();
    recordings.front().title = QStringLiteral("Quarterly planning with the regional sales leads and the finance team");
    library->setList(recordings);
    for (const double scale : {1.0, 1.25, 1.5}) {
        design::Font::setScale(scale);
        design::Theme::apply(*qApp);
        launch();
        window().resize(900, 600);
        expectEveryScreenFits(QStringLiteral("at %1x").arg(scale));
        app.reset();
        expectEveryOnboardingPageFits(QStringLiteral("at %1x").arg(scale));
    }
    design::Font::setScale(1);
    design::Theme::apply(*qApp);
    launch();
    window().resize(900, 600);
    main().setSelectedView(Selection::recordings);
    qobject_cast<MacRecordingsListView*>(main().currentScreen())->setSelectedRecording(library->recordings().front().id);
    clock.advance(1.5);
    saveScreenshot(window(), QStringLiteral("detail-900x600"));
}

TEST_F(DesktopWindow, FirstWindowFitsTheScreenAndItsPlaceSurvivesARestart)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_EQ(screen.size(), QSize(1280, 720));
    launch();
    EXPECT_TRUE(screen.contains(window().frameGeometry())) << "first frame off the screen";
    EXPECT_GE(window().width(), 900);
    EXPECT_GE(window().height(), 600);
    saveScreenshot(window(), QStringLiteral("record-on-1280x720"));

    window().setGeometry(120, 40, 1000, 640);
    QCoreApplication::processEvents();
    app.reset();
    launch();
    EXPECT_EQ(window().geometry(), QRect(120, 40, 1000, 640));
    EXPECT_FALSE(window().isMaximized());

    window().showMaximized();
    QCoreApplication::processEvents();
    app.reset();
    launch();
    EXPECT_TRUE(window().isMaximized());
    EXPECT_EQ(window().normalGeometry(), QRect(120, 40, 1000, 640));
    window().showNormal();
    QCoreApplication::processEvents();
    app.reset();

    // Left on a screen that is gone: it comes back whole on the one there is.
    defaults->setInteger(QString::fromLatin1(WindowPlacement::frameXKey), 2400);
    defaults->setInteger(QString::fromLatin1(WindowPlacement::frameHeightKey), 2000);
    launch();
    EXPECT_TRUE(screen.contains(window().frameGeometry()));
    EXPECT_EQ(window().width(), 1000);

    const QList<QRect> twoScreens = {QRect(0, 0, 1280, 720), QRect(1280, 0, 1920, 1080)};
    // Mostly on the second screen: kept there, moved up to fit; on none: centred on the first, made to fit.
    EXPECT_EQ(WindowPlacement::fittedFrame(QRect(1900, 900, 1000, 700), QSize(900, 600), twoScreens),
        QRect(1900, 356, 1000, 700));
    EXPECT_EQ(WindowPlacement::fittedFrame(QRect(-3000, 10, 1000, 700), QSize(900, 600), twoScreens),
        QRect(140, 24, 1000, 672));
}

TEST_F(DesktopWindow, TheShortcutsHelpNamesDoWhatItSays)
{
    library->setList(samples());
    launch();
    QWidget* start = inWindow("startRecordingButton");

    // Return on the focused button presses it, like Space.
    start->setFocus(Qt::TabFocusReason);
    QTest::keyClick(start, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_EQ(recorder->startCalls, 1);
    QTest::keyClick(&window(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(recorder->stopCalls, 1);
    recorder->finishStop(RecordingResult{});
    EXPECT_EQ(main().selectedView(), Selection::recordings);

    // Ctrl R from another screen starts on the Record screen.
    QTest::keyClick(&window(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    EXPECT_EQ(main().selectedView(), Selection::record);
    recorder->setIsRecording(false);

    QTest::keyClick(&window(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(main().selectedView(), Selection::settings);
    QTest::keyClick(&window(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(main().selectedView(), Selection::recordings);
    auto* search = inWindow<QLineEdit>("searchField");
    EXPECT_EQ(QApplication::focusWidget(), search);

    // The search field keeps the keys it types with.
    QTest::keyClicks(search, QStringLiteral("the "));
    QTest::keyClick(search, Qt::Key_Backspace);
    QTest::keyClick(search, Qt::Key_Home);
    QTest::keyClick(search, Qt::Key_Delete);
    EXPECT_EQ(search->text(), QStringLiteral("he"));
    EXPECT_TRUE(audioPlayer.plays.empty());
    EXPECT_EQ(window().findChild<QMessageBox*>(QStringLiteral("deleteConfirmation")), nullptr);
    search->clear();

    auto* list = inWindow<QListView>("recordingsList");
    auto* pane = qobject_cast<MacRecordingsListView*>(main().currentScreen());
    pane->setSelectedRecording(library->recordings().front().id);
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Space);
    ASSERT_EQ(audioPlayer.plays.size(), 1U);
    EXPECT_EQ(audioPlayer.plays.front(), library->recordings().front().id);
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(audioPlayer.stops, 1);

    const int before = library->recordings().size();
    QTest::keyClick(list, Qt::Key_Delete);
    QMessageBox* confirmation = pane->deleteConfirmation();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_EQ(library->recordings().size(), before);
    click(child(*confirmation, "confirmDeleteButton"));
    EXPECT_EQ(library->recordings().size(), before - 1);

    // The sidebar is a Tab stop that moves with the arrow keys.
    auto* sidebar = inWindow<QListWidget>("sidebar");
    EXPECT_NE(sidebar->focusPolicy() & Qt::TabFocus, 0);
    sidebar->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sidebar, Qt::Key_Down);
    EXPECT_EQ(main().selectedView(), Selection::settings);
    QTest::keyClick(sidebar, Qt::Key_Up);
    QTest::keyClick(sidebar, Qt::Key_Up);
    EXPECT_EQ(main().selectedView(), Selection::record);
}

TEST_F(DesktopWindow, EveryTabStopShowsItsFocus)
{
    library->setList(samples());
    launch();
    window().resize(1100, 700);
    const auto expectVisibleFocus = [&](const QString& screen) {
        clock.advance(1.5);
        QSet<QWidget*> seen;
        main().currentScreen()->setFocus();
        for (int step = 0; step < 80; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            if (!focused || seen.contains(focused)) {
                break;
            }
            seen.insert(focused);
            clock.advance(0.5);
            const QImage withFocus = focused->grab().toImage();
            focused->clearFocus();
            clock.advance(0.5);
            const QImage without = focused->grab().toImage();
            focused->setFocus(Qt::TabFocusReason);
            EXPECT_NE(withFocus, without) << screen.toStdString() << ": no focus shown on "
                                          << focused->metaObject()->className() << " "
                                          << focused->objectName().toStdString();
        }
        EXPECT_GT(seen.size(), 1) << screen.toStdString();
    };
    expectVisibleFocus(QStringLiteral("record"));
    main().setSelectedView(Selection::recordings);
    qobject_cast<MacRecordingsListView*>(main().currentScreen())->setSelectedRecording(library->recordings().front().id);
    expectVisibleFocus(QStringLiteral("recordings"));
    main().setSelectedView(Selection::settings);
    expectVisibleFocus(QStringLiteral("settings"));
}

TEST_F(DesktopWindow, RecordScreensSwapWithTheSpringWhenRecordingOrTranscribingChanges)
{
    launch();
    QWidget* ready = inWindow("readyToRecordView");
    QWidget* inProgress = inWindow("recordingInProgressView");
    QWidget* preprocessing = inWindow("preprocessingPanel");
    QWidget* transcribing = inWindow("transcribingPanel");
    const auto motion = [](QWidget* screen) -> std::pair<double, double> {
        auto* effect = qobject_cast<design::ScaleFadeEffect*>(screen->graphicsEffect());
        return effect ? std::pair(effect->scale(), effect->opacity()) : std::pair(1.0, 1.0);
    };

    recorder->setIsRecording(true);
    clock.advance(0.1);
    const auto [inScale, inOpacity] = motion(inProgress);
    const auto [outScale, outOpacity] = motion(ready);
    EXPECT_TRUE(inProgress->isVisible() && ready->isVisible());
    EXPECT_GT(inScale, 0.85);
    EXPECT_LT(inScale, 1.0);
    EXPECT_GT(inOpacity, 0.0);
    EXPECT_LT(inOpacity, 1.0);
    EXPECT_LT(outScale, 1.0);
    EXPECT_GT(outScale, 0.85 - 0.05);
    EXPECT_NEAR(outOpacity, 1 - inOpacity, 1e-9);
    clock.advance(1.5);
    EXPECT_FALSE(ready->isVisible());
    EXPECT_EQ(inProgress->graphicsEffect(), nullptr);

    // The stop: the in-progress screen grows towards 1.1 as the ready screen grows in from 0.9.
    recorder->setIsRecording(false);
    clock.advance(0.1);
    EXPECT_GT(motion(inProgress).first, 1.0);
    EXPECT_GT(motion(ready).first, 0.9);
    EXPECT_LT(motion(ready).first, 1.0);
    clock.advance(1.5);

    // The transcribing panel only fades in; preprocessing coming and going alone swaps at once.
    recorder->setIsTranscribing(true);
    clock.advance(0.1);
    EXPECT_EQ(motion(transcribing).first, 1.0);
    EXPECT_LT(motion(transcribing).second, 1.0);
    EXPECT_LT(motion(ready).first, 1.0);
    clock.advance(1.5);
    recorder->setIsPreprocessing(true);
    EXPECT_TRUE(preprocessing->isVisible());
    EXPECT_FALSE(transcribing->isVisible());
    EXPECT_EQ(preprocessing->graphicsEffect(), nullptr);
    recorder->setIsPreprocessing(false);
    EXPECT_FALSE(preprocessing->isVisible());
    EXPECT_TRUE(transcribing->isVisible());

    recorder->setIsTranscribing(false);
    clock.advance(0.1);
    EXPECT_LT(motion(ready).first, 1.0);
    EXPECT_GT(motion(ready).first, 0.9);
    clock.advance(1.5);
    EXPECT_FALSE(transcribing->isVisible());
    EXPECT_EQ(ready->graphicsEffect(), nullptr);
}
