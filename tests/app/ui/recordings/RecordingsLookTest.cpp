#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/shell/MacMainView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"
#include "app/dictation/SettingsKeys.hpp"

#include <QLineEdit>

using namespace parlino;
using namespace uitest;

namespace {

class RecordingsLook : public RecordingsTest {
protected:
    // The widget's area in the picture of `root`.
    static QRect areaOf(QWidget* widget, QWidget* root) { return {widget->mapTo(root, QPoint(0, 0)), widget->size()}; }

    static bool isDark(QColor colour) { return colour.lightness() < 90; }
};

} // namespace

TEST_F(RecordingsLook, TheListEmptyFilledAndSearchingAndTheDetailPaneAreFinishedPictures)
{
    MacRecordingsListView& list = open();
    const QImage empty = saveScreenshot(list, QStringLiteral("recordings-empty"));
    QWidget* state = find("noRecordingsState");
    EXPECT_GT(shareOfPixels(empty, areaOf(child(*state, "emptyStateIcon"), &list), isBrandBlue), 0.1);
    EXPECT_GT(shareOfPixels(empty, areaOf(child(*state, "emptyStateTitle"), &list), isDark), 0.05);
    EXPECT_GT(distinctColours(empty), 12);

    library->setList(samples());
    clock.advance(0.5);
    const QImage filled = saveScreenshot(list, QStringLiteral("recordings-list"));
    EXPECT_GT(distinctColours(filled), 40);
    // Rows carry text from top to bottom of what they fill; the detail pane asks for a choice.
    const QRect firstRow = list.listView()->visualRect(list.listView()->model()->index(0, 0));
    EXPECT_GT(shareOfPixels(filled, QRect(list.listView()->viewport()->mapTo(&list, firstRow.topLeft()), firstRow.size()), isDark), 0.01);
    EXPECT_GT(shareOfPixels(filled, areaOf(find("noSelectionText"), &list), [](QColor c) { return c.lightness() < 200; }), 0.05);

    clickRow(QStringLiteral("Q3 Budget Review"));
    clock.advance(1.5);
    const QImage detailPicture = saveScreenshot(list, QStringLiteral("recording-detail"));
    auto* play = button("playButton");
    EXPECT_GT(shareOfPixels(detailPicture, areaOf(play, &list), isBrandBlue), 0.5);
    EXPECT_GT(shareOfPixels(detailPicture, areaOf(button("deleteButton"), &list),
                  [](QColor c) { return c.red() > c.green() + 40 && c.red() > c.blue() + 40; }),
        0.1);
    EXPECT_GT(shareOfPixels(detailPicture, areaOf(find("detailTitle"), &list), isDark), 0.08);
    EXPECT_GT(shareOfPixels(detailPicture, areaOf(find("sendToAICard"), &list), [](QColor c) { return c.saturation() > 60; }), 0.01);
    saveScreenshot(detail(), QStringLiteral("recording-detail-pane"));

    list.setSearchText(QStringLiteral("BUDGET"));
    clock.advance(0.5);
    const QImage searching = saveScreenshot(list, QStringLiteral("recordings-searching"));
    EXPECT_GT(shareOfPixels(searching, areaOf(find("searchField"), &list), isDark), 0.005);
    EXPECT_TRUE(find("clearSearchButton")->isVisible());
    list.setSearchText(QStringLiteral("zzz"));
    clock.advance(0.5);
    const QImage nothing = saveScreenshot(list, QStringLiteral("recordings-no-match"));
    EXPECT_GT(shareOfPixels(nothing, areaOf(child(*find("noMatchesState"), "emptyStateIcon"), &list), isBrandBlue), 0.1);
    list.setSearchText(QString());

    // Editing in place, and a re-transcription under way: the search hid the recording and left the
    // pane empty, so it is picked again.
    clickRow(QStringLiteral("Q3 Budget Review"));
    clock.advance(1.5);
    click(find("detailTitle"));
    click(find("detailCategoryItem"));
    recorder->setAurisReady(false);
    click(button("reTranscribeButton"));
    QCoreApplication::processEvents();
    clock.advance(0.3);
    const QImage editing = saveScreenshot(detail(), QStringLiteral("recording-detail-editing"));
    EXPECT_TRUE(find("detailTitleField")->isVisible());
    EXPECT_TRUE(find("detailCategoryPicker")->isVisible());
    EXPECT_GT(shareOfPixels(editing, areaOf(find("detailTitleField"), &detail()), isDark), 0.05);
    recorder->setAurisReady(true);
    timer.advance(std::chrono::seconds(1));
    recorder->finishTranscription(QStringLiteral("done"));
}

TEST_F(RecordingsLook, TheRecordingsPaneSitsInTheMainWindowBesideTheSidebar)
{
    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    library->setList(samples());
    Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return services(); });
    app.show();
    QCoreApplication::processEvents();
    app.mainView()->setSelectedView(MacMainView::MainViewSelection::recordings);
    auto* list = child<MacRecordingsListView>(*app.window(), "recordingsListView");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(app.mainView()->currentScreen(), list);
    list->setSelectedRecording(library->recordings()[1].id);
    clock.advance(1.5);
    const QImage window = saveScreenshot(*app.window(), QStringLiteral("main-recordings"));
    EXPECT_GT(distinctColours(window), 40);
    // Arriving on the pane loaded the library again.
    EXPECT_EQ(library->loadCalls, 2);
}
