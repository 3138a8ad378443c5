#include "app/ui/recordings/MacRecordingsListView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsListModel.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/recordings/RecordingDetailView.hpp"
#include "app/ui/recordings/RecordingRowDelegate.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/PNEmptyState.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"
#include "app/ui/design/Theme.hpp"

#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace parlino {

using namespace design;

QModelIndex MacRecordingsListView::listedRow(const QUuid& id) const
{
    for (int i = 0; i < filter_->rowCount(); ++i) {
        const QModelIndex index = filter_->index(i, 0);
        if (index.data(RecordingsListModel::IdRole).toUuid() == id) {
            return index;
        }
    }
    return {};
}

bool MacRecordingsListView::isListed(const QUuid& id) const
{
    return listedRow(id).isValid();
}

void MacRecordingsListView::selectRowOfSelection()
{
    const bool syncing = std::exchange(syncingSelection_, true);
    QItemSelectionModel* selection = list_->selectionModel();
    const QModelIndex row = selectedRecordingID_ ? listedRow(*selectedRecordingID_) : QModelIndex();
    if (row.isValid()) {
        selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selection->clearSelection();
    }
    syncingSelection_ = syncing;
}

std::optional<Recording> MacRecordingsListView::selectedRecording() const
{
    return selectedRecordingID_ ? services_.library.recording(*selectedRecordingID_) : std::nullopt;
}

void MacRecordingsListView::setSelectedRecording(std::optional<QUuid> id)
{
    if (id && !services_.library.recording(*id)) {
        id.reset();
    }
    if (id == selectedRecordingID_) {
        return;
    }
    const bool fromNone = !selectedRecordingID_;
    selectedRecordingID_ = id;
    if (id && fromNone) {
        detail_->reset();
    }
    if (!syncingSelection_) {
        selectRowOfSelection();
    }
    showSelection();
}

void MacRecordingsListView::showSelection()
{
    if (!selectedRecordingID_) {
        detailStack_->setCurrentWidget(noSelection_);
        return;
    }
    detail_->setRecording(*selectedRecordingID_);
    updatePlayState();
    detailStack_->setCurrentWidget(detail_);
}

void MacRecordingsListView::selectLatestSaved()
{
    // A save made while the pane was away is selected when it comes on screen.
    const std::optional<QUuid> latest = services_.library.latestSavedRecordingID();
    if (!isVisible() || !latest || !services_.library.recording(*latest)) {
        return;
    }
    // A search or filter that would hide the new recording gives way to it.
    if (!isListed(*latest)) {
        setSearchText(QString());
        setSelectedRecordingCategory(std::nullopt);
    }
    setSelectedRecording(*latest);
    services_.library.clearLatestSavedRecordingID();
}

} // namespace parlino
