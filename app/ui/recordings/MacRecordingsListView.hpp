#pragma once

#include "app/recorder/Recording.hpp"
#include "app/ui/AppServices.hpp"

#include <QFrame>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QModelIndex>
#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QSortFilterProxyModel;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace parlino {

class RecordingDetailView;
class RecordingsListModel;

// The Recordings pane: a category filter and a search over titles and transcripts above the list
// of saved recordings, newest first, and the detail pane of the one selected. The selection
// follows the recording's id, so the pane always shows the library's current values and leaves a
// recording that is deleted. It plays through the shared player, asks before it deletes, starts a
// cloud sync, and selects a recording saved while it is on screen.
class MacRecordingsListView : public QWidget {
    Q_OBJECT

public:
    explicit MacRecordingsListView(AppServices& services, QWidget* parent = nullptr);
    ~MacRecordingsListView() override;

    QString searchText() const;
    void setSearchText(const QString& text);
    void focusSearch();
    std::optional<RecordingCategory> selectedRecordingCategory() const { return selectedRecordingCategory_; }
    void setSelectedRecordingCategory(std::optional<RecordingCategory> category);

    std::optional<QUuid> selectedRecordingID() const { return selectedRecordingID_; }
    // The selected recording as the library holds it now.
    std::optional<Recording> selectedRecording() const;
    void setSelectedRecording(std::optional<QUuid> id);

    // The library's recordings with the category filter and the search applied, newest first.
    QList<Recording> filteredRecordings() const;
    // A recording passes when it has the category (if one is chosen) and, for a non-empty search,
    // its title or else its transcript contains the search text, ignoring case.
    static bool matches(const Recording& recording, std::optional<RecordingCategory> category, const QString& searchText);
    // "3 recordings": the count of the filtered list.
    QString countText() const;
    // Whether the shared player is playing this recording now.
    bool isPlaying(const QUuid& id) const;

    void playRecording(const Recording& recording);
    void stopPlayback();
    // The detail pane's Delete: asks, deletes and leaves the pane.
    void deleteRecording(const Recording& recording);
    void syncWithCloud();

    RecordingDetailView* detailView() const { return detail_; }
    QListView* listView() const { return list_; }
    // The open delete confirmation or context menu, if any.
    QMessageBox* deleteConfirmation() const { return confirmation_; }
    QMenu* contextMenu() const { return contextMenu_; }
    // Opens the context menu of a recording's row at `position` in the list's viewport.
    void showContextMenu(const Recording& recording, QPoint position);

signals:
    // The toolbar's Help and Feedback; the window that owns the sheets presents them.
    void helpRequested();
    void feedbackRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The list yields to the detail pane in a narrow window, down to its minimum.
    static constexpr int listMinimumWidth = 300;
    static constexpr int listIdealWidth = 400;

    static QFrame* line(QFrame::Shape shape, QWidget* parent);
    enum class DeleteRoad { contextMenu, detailPane };

    QWidget* topBar();
    QWidget* searchBox();
    QToolButton* toolbarButton(const QString& symbol, const QString& label, const QString& tooltip, const char* objectName);
    QWidget* listPane();
    QWidget* noSelectionView();
    // Space plays or stops the selected recording, Delete asks to delete it.
    void addListKeys();

    void applyFilter();
    void showSelection();
    QModelIndex listedRow(const QUuid& id) const;
    bool isListed(const QUuid& id) const;
    void selectRowOfSelection();
    void updatePlayState();
    void libraryChanged();
    void selectLatestSaved();
    void confirmDelete(const Recording& recording, DeleteRoad road);
    void performDelete(const Recording& recording, DeleteRoad road);

    AppServices& services_;
    std::optional<RecordingCategory> selectedRecordingCategory_;
    std::optional<QUuid> selectedRecordingID_;
    // The recording the player plays and when it began, which the detail pane counts its position from.
    std::optional<QUuid> playingID_;
    std::optional<Clock::TimePoint> playbackStartedAt_;
    // Set while the program, not the user, changes the list's selection.
    bool syncingSelection_ = false;
    bool listMovedByUser_ = false;

    RecordingsListModel* model_ = nullptr;
    QSortFilterProxyModel* filter_ = nullptr;
    QComboBox* categoryFilter_ = nullptr;
    QLineEdit* search_ = nullptr;
    QToolButton* clearSearch_ = nullptr;
    QLabel* count_ = nullptr;
    QSplitter* split_ = nullptr;
    QStackedWidget* listStack_ = nullptr;
    QListView* list_ = nullptr;
    QWidget* noRecordings_ = nullptr;
    QWidget* noMatches_ = nullptr;
    QStackedWidget* detailStack_ = nullptr;
    QWidget* noSelection_ = nullptr;
    RecordingDetailView* detail_ = nullptr;
    QPointer<QMessageBox> confirmation_;
    QPointer<QMenu> contextMenu_;
};

} // namespace parlino
