#include "app/ui/recordings/MacRecordingsListView.hpp"

#include "app/ui/recordings/RecordingsFilter.hpp"
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

MacRecordingsListView::MacRecordingsListView(AppServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
{
    setObjectName(QStringLiteral("recordingsListView"));
    setFocusPolicy(Qt::ClickFocus);
    model_ = new RecordingsListModel(services_.library, this);
    filter_ = new RecordingsFilter(*model_, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(topBar());
    layout->addWidget(line(QFrame::HLine, this));

    split_ = new QSplitter(Qt::Horizontal, this);
    split_->setObjectName(QStringLiteral("recordingsSplit"));
    split_->setChildrenCollapsible(false);
    split_->setHandleWidth(1);
    split_->addWidget(listPane());
    detailStack_ = new QStackedWidget(split_);
    noSelection_ = noSelectionView();
    detailStack_->addWidget(noSelection_);
    detail_ = new RecordingDetailView(services_, detailStack_);
    detail_->setOnPlay([this] {
        if (const std::optional<Recording> shown = selectedRecording()) {
            playRecording(*shown);
        }
    });
    detail_->setOnStop([this] { stopPlayback(); });
    detail_->setOnDelete([this] {
        if (const std::optional<Recording> shown = selectedRecording()) {
            deleteRecording(*shown);
        }
    });
    detailStack_->addWidget(detail_);
    split_->addWidget(detailStack_);
    split_->setStretchFactor(0, 0);
    split_->setStretchFactor(1, 1);
    split_->setSizes({listIdealWidth, 600});
    connect(split_, &QSplitter::splitterMoved, this, [this] { listMovedByUser_ = true; });
    layout->addWidget(split_, 1);

    // A reset loses the list's selection; it is put back from the id.
    connect(filter_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { syncingSelection_ = true; });
    connect(filter_, &QAbstractItemModel::modelReset, this, [this] {
        selectRowOfSelection();
        syncingSelection_ = false;
    });
    connect(&services_.library, &LibraryService::recordingsChanged, this, &MacRecordingsListView::libraryChanged);
    connect(&services_.library, &LibraryService::latestSavedRecordingIDChanged, this,
        &MacRecordingsListView::selectLatestSaved);
    connect(&services_.audioPlayer, &AudioPlayback::isPlayingChanged, this, &MacRecordingsListView::updatePlayState);
    connect(&services_.audioPlayer, &AudioPlayback::currentRecordingChanged, this,
        &MacRecordingsListView::updatePlayState);

    applyFilter();
    showSelection();
}

MacRecordingsListView::~MacRecordingsListView() = default;

QFrame* MacRecordingsListView::line(QFrame::Shape shape, QWidget* parent)
{
    auto* divider = new QFrame(parent);
    divider->setFrameShape(QFrame::NoFrame);
    AppearanceFollower::follow(divider, [divider] {
        divider->setStyleSheet(QStringLiteral("background: %1;").arg(Color::surfaceTertiary().resolved().name()));
    });
    if (shape == QFrame::VLine) {
        divider->setFixedSize(1, 20);
    } else {
        divider->setFixedHeight(1);
    }
    return divider;
}

void MacRecordingsListView::libraryChanged()
{
    applyFilter();
    // A recording that is gone, by whatever road, leaves the pane.
    if (selectedRecordingID_ && !services_.library.recording(*selectedRecordingID_)) {
        setSelectedRecording(std::nullopt);
    }
}

void MacRecordingsListView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // In a narrow window the list yields to the detail pane, down to its minimum.
    if (!listMovedByUser_) {
        const int list = std::clamp(split_->width() * 2 / 5, listMinimumWidth, listIdealWidth);
        split_->setSizes({list, std::max(0, split_->width() - list - split_->handleWidth())});
    }
}

void MacRecordingsListView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        // The list (or the pane, while it has nothing to list) takes the keys, not the first
        // control of the bar.
        if (!isAncestorOf(QApplication::focusWidget())) {
            (listStack_->currentWidget() == list_ ? static_cast<QWidget*>(list_) : this)->setFocus(Qt::OtherFocusReason);
        }
        services_.library.refreshRecordings();
        services_.library.syncWithCloud();
        selectLatestSaved();
    }
}

} // namespace parlino
