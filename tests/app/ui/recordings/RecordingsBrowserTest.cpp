#include "app/ui/RecordingsFixture.hpp"

#include "app/ui/StatusNotice.hpp"
#include "app/ui/recordings/RecordingRow.hpp"
#include "app/ui/recordings/RecordingRowDelegate.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/PNEmptyState.hpp"
#include "app/ui/design/PNGradientIcon.hpp"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTime>
#include <QToolButton>

using namespace parlino;
using namespace uitest;

namespace {

class RecordingsBrowser : public RecordingsTest {
protected:
    QString shownTitle() { return find<QLabel>("detailTitle")->text(); }

    QString emptyStateTitle(QWidget* state) { return child<QLabel>(*state, "emptyStateTitle")->text(); }
    QString emptyStateSubtitle(QWidget* state) { return child<QLabel>(*state, "emptyStateSubtitle")->text(); }

    void pickFilter(int index)
    {
        auto* filter = find<QComboBox>("categoryFilter");
        filter->setCurrentIndex(index);
    }

    QMessageBox* confirmation()
    {
        QMessageBox* alert = view->deleteConfirmation();
        EXPECT_NE(alert, nullptr) << "no delete confirmation";
        return alert;
    }

    void answer(const char* buttonName)
    {
        QMessageBox* alert = confirmation();
        ASSERT_NE(alert, nullptr);
        click(alert->findChild<QPushButton*>(QString::fromLatin1(buttonName)));
        QCoreApplication::processEvents();
    }

    CapturedStdout console;
};

} // namespace

TEST_F(RecordingsBrowser, SearchesTitlesAndTranscriptsFiltersByCategoryAndSaysWhenNothingIsThere)
{
    MacRecordingsListView& list = open();
    EXPECT_EQ(library->loadCalls, 1);
    EXPECT_EQ(library->syncCalls, 1);
    auto* listPane = find<QStackedWidget>("recordingsListPane");
    auto* noRecordings = find("noRecordingsState");
    auto* noMatches = find("noMatchesState");
    EXPECT_EQ(listPane->currentWidget(), noRecordings);
    EXPECT_EQ(emptyStateTitle(noRecordings), QStringLiteral("Žiadne nahrávky"));
    EXPECT_EQ(emptyStateSubtitle(noRecordings), QStringLiteral("Začni nahrávaním"));
    EXPECT_EQ(child<design::PNGradientIcon>(*noRecordings, "emptyStateIcon")->systemName(), QStringLiteral("mic.slash"));
    EXPECT_EQ(find<QLabel>("recordingsCount")->text(), QStringLiteral("0 recordings"));
    EXPECT_TRUE(find("noSelectionView")->isVisible());
    EXPECT_EQ(find<QLabel>("noSelectionText")->text(), QStringLiteral("Vyber nahrávku"));

    library->setList(samples());
    EXPECT_EQ(listPane->currentWidget(), list.listView());
    EXPECT_EQ(listedTitles().size(), 6);
    EXPECT_EQ(find<QLabel>("recordingsCount")->text(), QStringLiteral("6 recordings"));

    // Capitals find a title, and a transcript where the title does not match; newest first.
    auto* clear = find<QToolButton>("clearSearchButton");
    EXPECT_FALSE(clear->isVisible());
    QTest::keyClicks(find<QLineEdit>("searchField"), QStringLiteral("BUDGET"));
    EXPECT_EQ(list.searchText(), QStringLiteral("BUDGET"));
    EXPECT_TRUE(clear->isVisible());
    EXPECT_EQ(listedTitles(), (QStringList{QStringLiteral("Q3 Budget Review"), QStringLiteral("Grocery List")}));
    ASSERT_EQ(list.filteredRecordings().size(), 2);
    EXPECT_EQ(list.filteredRecordings()[1].title, QStringLiteral("Grocery List"));
    EXPECT_EQ(find<QLabel>("recordingsCount")->text(), QStringLiteral("2 recordings"));
    list.setSearchText(QStringLiteral("stand"));
    EXPECT_EQ(find<QLabel>("recordingsCount")->text(), QStringLiteral("1 recordings"));

    list.setSearchText(QStringLiteral("zzz"));
    EXPECT_EQ(listPane->currentWidget(), noMatches);
    EXPECT_EQ(emptyStateTitle(noMatches), QStringLiteral("Nič sa nenašlo"));
    EXPECT_EQ(emptyStateSubtitle(noMatches), QStringLiteral("Skús iné vyhľadávanie"));
    EXPECT_EQ(child<design::PNGradientIcon>(*noMatches, "emptyStateIcon")->systemName(), QStringLiteral("magnifyingglass"));
    EXPECT_EQ(find<QLabel>("recordingsCount")->text(), QStringLiteral("0 recordings"));
    click(clear);
    EXPECT_TRUE(list.searchText().isEmpty());
    EXPECT_FALSE(clear->isVisible());
    EXPECT_EQ(listedTitles().size(), 6);

    // "All" is the filter's own first entry and never a category of its own: the six categories
    // follow it once each. A recording stored as All long ago shows under no filter only. An empty
    // category with no search says there are no recordings, not that nothing was found.
    auto* filter = find<QComboBox>("categoryFilter");
    ASSERT_EQ(filter->count(), 8);
    EXPECT_EQ(filter->itemText(0), QStringLiteral("All"));
    EXPECT_EQ(filter->findText(QStringLiteral("All")), 0);
    EXPECT_EQ(filter->itemText(2), QStringLiteral("Work"));
    EXPECT_EQ(filter->itemText(7), QStringLiteral("Task"));
    pickFilter(filter->findText(QStringLiteral("Meeting")));
    EXPECT_EQ(list.selectedRecordingCategory(), RecordingCategory::meeting);
    EXPECT_EQ(listedTitles(), QStringList{QStringLiteral("Team Standup")});
    pickFilter(filter->findText(QStringLiteral("Task")));
    EXPECT_EQ(listPane->currentWidget(), noRecordings);
    list.setSearchText(QStringLiteral("x"));
    EXPECT_EQ(listPane->currentWidget(), noMatches);
    list.setSearchText(QString());
    pickFilter(0);
    EXPECT_FALSE(list.selectedRecordingCategory().has_value());
    EXPECT_EQ(listedTitles().size(), 6);

    // The toolbar: a sync, and hooks for the help and feedback sheets.
    QSignalSpy help(&list, &MacRecordingsListView::helpRequested);
    QSignalSpy feedback(&list, &MacRecordingsListView::feedbackRequested);
    click(find("syncButton"));
    click(find("helpButton"));
    click(find("feedbackButton"));
    EXPECT_EQ(library->syncCalls, 2);
    // Each sync click says how it went, or why there was nothing to sync with.
    QCoreApplication::processEvents();
    ASSERT_NE(StatusNotice::of(list), nullptr);
    EXPECT_EQ(StatusNotice::of(list)->message(), QStringLiteral("Recordings synced with cloud"));
    library->nextSyncFailure = QStringLiteral("offline");
    click(find("syncButton"));
    QCoreApplication::processEvents();
    EXPECT_EQ(StatusNotice::of(list)->message(), QStringLiteral("Sync with cloud failed"));
    library->cloudAvailable = false;
    click(find("syncButton"));
    EXPECT_EQ(library->syncCalls, 3);
    EXPECT_EQ(StatusNotice::of(list)->message(),
        QStringLiteral("No cloud store is set up: recordings stay on this computer"));
    EXPECT_EQ(help.count(), 1);
    EXPECT_EQ(feedback.count(), 1);
    EXPECT_EQ(find("syncButton")->toolTip(), QStringLiteral("Sync with cloud"));
    EXPECT_EQ(find("helpButton")->toolTip(), QStringLiteral("Show help"));
    EXPECT_EQ(find("feedbackButton")->toolTip(), QStringLiteral("Send feedback"));
}

TEST_F(RecordingsBrowser, TheDetailShowsTheSelectedRecordingAsTheLibraryHoldsItAndSavesTheTitleOnReturn)
{
    library->setList(samples());
    MacRecordingsListView& list = open();
    clickRow(QStringLiteral("Team Standup"));
    const QUuid standup = byTitle(QStringLiteral("Team Standup")).id;
    EXPECT_EQ(list.selectedRecordingID(), standup);
    EXPECT_TRUE(detail().isVisible());
    EXPECT_EQ(shownTitle(), QStringLiteral("Team Standup"));
    EXPECT_EQ(find<QLabel>("detailDuration")->text(), QStringLiteral("3:05"));
    EXPECT_EQ(find<QLabel>("detailCategory")->text(), QStringLiteral("Meeting"));
    EXPECT_TRUE(find<QLabel>("detailDate")->text().startsWith(QStringLiteral("March 13, 2025, 10:05")))
        << find<QLabel>("detailDate")->text().toStdString();
    EXPECT_TRUE(find("sendToAICard")->isVisible());
    EXPECT_FALSE(find("noTranscription")->isVisible());

    // What the library changes, the pane shows, and Copy and the AI buttons use.
    Recording changed = byTitle(QStringLiteral("Team Standup"));
    library->updateTranscription(changed, QStringLiteral("Beta ships Monday & not Friday"));
    EXPECT_EQ(find<QLabel>("detailTranscript")->text(), QStringLiteral("Beta ships Monday & not Friday"));
    EXPECT_EQ(find<QLabel>("detailTranscript")->textFormat(), Qt::PlainText);
    click(button("copyButton"));
    EXPECT_EQ(clipboard.text(), QStringLiteral("Beta ships Monday & not Friday"));
    click(button("aiAppGemini"));
    EXPECT_EQ(clipboard.text(), QStringLiteral("Beta ships Monday & not Friday"));

    // Editing begun on one recording never lands on another.
    click(find("detailTitle"));
    auto* field = find<QLineEdit>("detailTitleField");
    EXPECT_TRUE(detail().isEditingTitle());
    EXPECT_EQ(field->text(), QStringLiteral("Team Standup"));
    field->setText(QStringLiteral("Meant for the standup"));
    clickRow(QStringLiteral("Grocery List"));
    EXPECT_FALSE(detail().isEditingTitle());
    EXPECT_FALSE(field->isVisible());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(library->titleUpdates, 0);
    EXPECT_EQ(byTitle(QStringLiteral("Grocery List")).transcription.left(4), QStringLiteral("Milk"));

    // Losing the focus saves nothing; Return does.
    click(find("detailTitle"));
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Weekend <b>shopping</b>"));
    find<QLineEdit>("searchField")->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(library->titleUpdates, 0);
    EXPECT_TRUE(detail().isEditingTitle());
    console.clear();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(detail().isEditingTitle());
    EXPECT_EQ(library->titleUpdates, 1);
    EXPECT_EQ(shownTitle(), QStringLiteral("Weekend <b>shopping</b>"));
    EXPECT_EQ(find<QLabel>("detailTitle")->textFormat(), Qt::PlainText);
    EXPECT_TRUE(listedTitles().contains(QStringLiteral("Weekend <b>shopping</b>")));
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("✅ Title updated: Weekend <b>shopping</b>")});

    // An empty title is refused and the next edit starts from the stored one.
    click(find("detailTitle"));
    field->clear();
    console.clear();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("⚠️ Title cannot be empty")});
    EXPECT_EQ(library->titleUpdates, 1);
    click(find("detailTitle"));
    EXPECT_EQ(field->text(), QStringLiteral("Weekend <b>shopping</b>"));
    QTest::keyClick(field, Qt::Key_Return);

    // The category picker offers the six categories, never All; picking the same one changes nothing.
    click(find("detailCategoryItem"));
    auto* picker = find<QComboBox>("detailCategoryPicker");
    EXPECT_TRUE(detail().isEditingCategory());
    EXPECT_EQ(picker->count(), 6);
    EXPECT_EQ(picker->findText(QStringLiteral("All")), -1);
    EXPECT_EQ(picker->currentText(), QStringLiteral("Personal"));
    picker->setCurrentIndex(picker->findText(QStringLiteral("Personal")));
    EXPECT_TRUE(detail().isEditingCategory());
    console.clear();
    picker->setCurrentIndex(picker->findText(QStringLiteral("Idea")));
    EXPECT_FALSE(detail().isEditingCategory());
    EXPECT_EQ(library->recording(list.selectedRecordingID().value())->category, RecordingCategory::idea);
    EXPECT_EQ(find<QLabel>("detailCategory")->text(), QStringLiteral("Idea"));
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("✅ Category updated: Idea")});

    // Without a transcript: no AI card, the placeholder text, and Copy takes the title.
    clickRow(QStringLiteral("Voice Memo"));
    EXPECT_FALSE(find("sendToAICard")->isVisible());
    EXPECT_TRUE(find("noTranscription")->isVisible());
    EXPECT_EQ(find<QLabel>("noTranscription")->text(), QStringLiteral("No transcription available"));
    console.clear();
    click(button("copyButton"));
    EXPECT_EQ(clipboard.text(), QStringLiteral("Voice Memo"));
    EXPECT_EQ(clipboard.clears, 3);
    EXPECT_EQ(console.lines(), QStringList{QStringLiteral("✅ Copied title to clipboard (no transcription)")});

    // The launch method stays for every later click until it is changed, even on another recording.
    clickRow(QStringLiteral("Q3 Budget Review"));
    auto* method = find<QComboBox>("launchMethodPicker");
    EXPECT_EQ(detail().aiLaunchMethod(), AILaunchMethod::clipboard);
    // Only the methods this desktop can carry out are offered.
    ASSERT_EQ(method->count(), 3);
    EXPECT_EQ(method->findText(QStringLiteral("Shortcut")), -1);
    method->setCurrentIndex(method->findText(QStringLiteral("Web Browser")));
    click(button("aiAppCopilot"));
    clickRow(QStringLiteral("App Idea: Voice Journal"));
    click(button("aiAppGrok"));
    ASSERT_EQ(urlOpener.opened.size(), 3u);
    EXPECT_EQ(urlOpener.opened[1], QUrl(QStringLiteral("https://copilot.microsoft.com/")));
    EXPECT_EQ(urlOpener.opened[2], QUrl(QStringLiteral("https://x.com/i/grok")));
    EXPECT_EQ(clipboard.text(), byTitle(QStringLiteral("App Idea: Voice Journal")).transcription);

    // A recording that goes, by any road, leaves the pane; a fresh pane starts with Copy to Clipboard.
    library->deleteRecording(byTitle(QStringLiteral("App Idea: Voice Journal")));
    EXPECT_FALSE(list.selectedRecordingID().has_value());
    EXPECT_TRUE(find("noSelectionView")->isVisible());
    clickRow(QStringLiteral("Team Standup"));
    EXPECT_EQ(detail().aiLaunchMethod(), AILaunchMethod::clipboard);
    EXPECT_EQ(method->currentText(), QStringLiteral("Copy to Clipboard"));
}

TEST_F(RecordingsBrowser, PlayAndStopFollowThePlayerAndDeletingAsksFirst)
{
    library->setList(samples());
    MacRecordingsListView& list = open();
    clickRow(QStringLiteral("Q3 Budget Review"));
    const Recording budget = byTitle(QStringLiteral("Q3 Budget Review"));
    auto* play = button("playButton");
    EXPECT_EQ(play->title(), QStringLiteral("Play"));
    click(play);
    ASSERT_EQ(audioPlayer.plays.size(), 1u);
    EXPECT_EQ(audioPlayer.plays[0], budget.id);
    EXPECT_EQ(play->title(), QStringLiteral("Stop"));
    EXPECT_EQ(play->symbol(), QStringLiteral("stop.fill"));
    // The position runs with the playback and never past the recording's length.
    auto* position = find<QLabel>("playbackPosition");
    EXPECT_TRUE(position->isVisible());
    EXPECT_EQ(position->text(), QStringLiteral("0:00 / 5:12"));
    timer.advance(std::chrono::milliseconds(12'100));
    EXPECT_EQ(position->text(), QStringLiteral("0:12 / 5:12"));

    // The Stop button and the position belong to the recording that plays, also after a look elsewhere.
    clickRow(QStringLiteral("Grocery List"));
    EXPECT_EQ(play->title(), QStringLiteral("Play"));
    EXPECT_FALSE(find("playbackPosition")->isVisible());
    clickRow(QStringLiteral("Q3 Budget Review"));
    EXPECT_EQ(play->title(), QStringLiteral("Stop"));
    EXPECT_EQ(find<QLabel>("playbackPosition")->text(), QStringLiteral("0:12 / 5:12"));
    timer.advance(std::chrono::seconds(400));
    EXPECT_EQ(find<QLabel>("playbackPosition")->text(), QStringLiteral("5:12 / 5:12"));
    click(play);
    EXPECT_EQ(audioPlayer.stops, 1);
    EXPECT_EQ(play->title(), QStringLiteral("Play"));
    EXPECT_FALSE(find("playbackPosition")->isVisible());
    click(play);
    audioPlayer.finish();
    EXPECT_EQ(play->title(), QStringLiteral("Play"));

    // A play that fails changes nothing here; the player has said why.
    audioPlayer.nextFailure = QStringLiteral("Cannot open audio file");
    console.clear();
    click(play);
    QCoreApplication::processEvents();
    EXPECT_EQ(play->title(), QStringLiteral("Play"));
    EXPECT_TRUE(console.lines().isEmpty());

    // Deleting asks; Cancel keeps everything.
    click(play);
    click(button("deleteButton"));
    ASSERT_NE(confirmation(), nullptr);
    EXPECT_TRUE(hasSheetFrame(*confirmation()));
    EXPECT_EQ(confirmation()->text(), QStringLiteral("Delete “Q3 Budget Review”?"));
    EXPECT_EQ(confirmation()->textFormat(), Qt::PlainText);
    answer("cancelDeleteButton");
    EXPECT_TRUE(library->recording(budget.id).has_value());
    EXPECT_EQ(audioPlayer.stops, 1);

    // Delete from the context menu of the playing recording: the playback ends, the pane leaves.
    list.showContextMenu(budget, list.listView()->visualRect(list.listView()->model()->index(0, 0)).center());
    QMenu* menu = list.contextMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Play"));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Delete"));
    menu->actions()[1]->trigger();
    menu->close();
    answer("confirmDeleteButton");
    EXPECT_FALSE(library->recording(budget.id).has_value());
    EXPECT_EQ(audioPlayer.stops, 2);
    EXPECT_FALSE(list.selectedRecordingID().has_value());
    EXPECT_TRUE(find("noSelectionView")->isVisible());

    // The context menu's Play plays that row; deleting another row keeps the selection.
    clickRow(QStringLiteral("Team Standup"));
    const Recording grocery = byTitle(QStringLiteral("Grocery List"));
    list.showContextMenu(grocery, QPoint(20, 20));
    list.contextMenu()->actions()[0]->trigger();
    list.contextMenu()->close();
    EXPECT_EQ(audioPlayer.plays.back(), grocery.id);
    EXPECT_EQ(play->title(), QStringLiteral("Play"));
    list.showContextMenu(grocery, QPoint(20, 20));
    list.contextMenu()->actions()[1]->trigger();
    list.contextMenu()->close();
    answer("confirmDeleteButton");
    EXPECT_FALSE(library->recording(grocery.id).has_value());
    EXPECT_EQ(audioPlayer.stops, 3);
    EXPECT_EQ(list.selectedRecordingID(), byTitle(QStringLiteral("Team Standup")).id);
    EXPECT_EQ(shownTitle(), QStringLiteral("Team Standup"));
}

TEST_F(RecordingsBrowser, ANewRecordingIsSelectedAndTheDetailShowsOnlyWhatTheListShows)
{
    library->setList(samples());
    MacRecordingsListView& list = open();
    const std::filesystem::path audio = library->documentsURL() / "new.m4a";
    std::ofstream(audio) << "audio";
    const Recording saved = library->saveRecording({audio, QStringLiteral("Fresh words"), 4, QStringLiteral("Fresh")});
    EXPECT_EQ(list.selectedRecordingID(), saved.id);
    EXPECT_FALSE(library->latestSavedRecordingID().has_value());
    EXPECT_EQ(shownTitle(), QStringLiteral("Fresh"));
    ASSERT_FALSE(list.listView()->selectionModel()->selectedRows().isEmpty());
    EXPECT_EQ(list.listView()->selectionModel()->selectedRows().front().data().toString(), QStringLiteral("Fresh"));

    // A search or a filter that hides the shown recording empties the detail pane.
    list.setSearchText(QStringLiteral("budget"));
    EXPECT_FALSE(list.selectedRecordingID().has_value());
    EXPECT_TRUE(find("noSelectionView")->isVisible());
    clickRow(QStringLiteral("Q3 Budget Review"));
    list.setSearchText(QString());
    list.setSelectedRecordingCategory(RecordingCategory::meeting);
    EXPECT_FALSE(list.selectedRecordingID().has_value());
    clickRow(QStringLiteral("Team Standup"));
    list.setSelectedRecordingCategory(std::nullopt);
    EXPECT_EQ(shownTitle(), QStringLiteral("Team Standup")) << "a recording still listed stays shown";

    // A save made while the pane is away (the record screen's stop) is selected when it comes
    // back, and a filter that would hide it gives way.
    list.setSelectedRecordingCategory(RecordingCategory::meeting);
    list.hide();
    const Recording unseen = library->saveRecording({audio, QString(), 4, QStringLiteral("Unseen")});
    EXPECT_EQ(library->latestSavedRecordingID(), unseen.id);
    list.show();
    EXPECT_EQ(list.selectedRecordingID(), unseen.id);
    EXPECT_FALSE(library->latestSavedRecordingID().has_value());
    EXPECT_FALSE(list.selectedRecordingCategory().has_value());
    EXPECT_EQ(shownTitle(), QStringLiteral("Unseen"));
}

TEST_F(RecordingsBrowser, RowsShowTheirMetadataOnTwoOrThreeLinesAndGrowUnderThePointer)
{
    const QList<Recording> list = samples();
    const RecordingRow board(list[5]);
    EXPECT_EQ(board.recording().category.icon(), QStringLiteral("square.grid.2x2"));
    // The time of day tells apart the recordings of one day.
    const auto at = [](int hour, int minute) { return QLocale().toString(QTime(hour, minute), QLocale::ShortFormat); };
    EXPECT_EQ(board.metadataText(), QStringLiteral("March 8, 2025, ") + at(16, 20) + QStringLiteral(" • 1:15 • All"));
    Recording silent = list[4];
    silent.duration = 0;
    const RecordingRow memo(silent);
    EXPECT_EQ(memo.metadataText(), QStringLiteral("March 9, 2025, ") + at(8, 0) + QStringLiteral(" • 0:00 • Note"));
    // In a narrow row the line ends in an ellipsis instead of a name cut mid-word.
    const QStringList whole = memo.metadataLine(1000);
    EXPECT_EQ(whole.join(QLatin1Char(' ')), memo.metadataText());
    const QFontMetricsF caption(design::Font::captionText());
    const double narrow = caption.horizontalAdvance(whole.mid(0, 4).join(QString())) + 4 * 8
        + caption.horizontalAdvance(QStringLiteral("No…")) + 1;
    const QStringList cut = memo.metadataLine(narrow);
    ASSERT_EQ(cut.size(), 5);
    EXPECT_EQ(cut.mid(0, 4), whole.mid(0, 4));
    EXPECT_TRUE(cut.back().endsWith(QChar(0x2026))) << cut.back().toStdString();
    EXPECT_FALSE(memo.showsPreview());
    EXPECT_TRUE(memo.previewLines(300).isEmpty());
    EXPECT_LT(memo.height(), board.height());

    Recording wordy = list[0];
    wordy.title = QStringLiteral("A title far too long to stand on one line of a narrow list, however wide the font");
    wordy.transcription = QString(QStringLiteral("Many words follow here\nand more after a break. ")).repeated(4000);
    const RecordingRow row(wordy);
    EXPECT_TRUE(row.titleLine(200).endsWith(QChar(0x2026)));
    const QStringList preview = row.previewLines(240);
    ASSERT_EQ(preview.size(), 2);
    EXPECT_FALSE(preview[0].contains(QLatin1Char('\n')));
    EXPECT_TRUE(preview[1].endsWith(QChar(0x2026)));
    EXPECT_EQ(row.height(), board.height());

    library->setList(list);
    open();
    QListView* listView = view->listView();
    auto* delegate = qobject_cast<RecordingRowDelegate*>(listView->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    const QModelIndex second = listView->model()->index(1, 0);
    QTest::mouseMove(listView->viewport(), listView->visualRect(second).center());
    const QUuid standup = byTitle(QStringLiteral("Team Standup")).id;
    EXPECT_EQ(delegate->hoveredRecording(), standup);
    clock.advance(0.05);
    EXPECT_GT(delegate->scaleOf(standup), 1.0);
    EXPECT_LT(delegate->scaleOf(standup), RecordingRowDelegate::hoverScale);
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(delegate->scaleOf(standup), RecordingRowDelegate::hoverScale);
    QTest::mouseMove(listView->viewport(), listView->visualRect(listView->model()->index(0, 0)).center());
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(delegate->scaleOf(standup), 1.0);
    EXPECT_DOUBLE_EQ(delegate->scaleOf(byTitle(QStringLiteral("Q3 Budget Review")).id), RecordingRowDelegate::hoverScale);
}
