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

QWidget* MacRecordingsListView::listPane()
{
    listStack_ = new QStackedWidget(this);
    listStack_->setObjectName(QStringLiteral("recordingsListPane"));
    listStack_->setMinimumWidth(listMinimumWidth);

    list_ = new QListView(listStack_);
    list_->setObjectName(QStringLiteral("recordingsList"));
    list_->setModel(filter_);
    list_->setItemDelegate(new RecordingRowDelegate(services_.clock, list_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->setStyleSheet(QStringLiteral("QListView { background: transparent; border: none; outline: 0; padding-top: 6px; }"));
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (syncingSelection_) {
            return;
        }
        const QModelIndexList rows = list_->selectionModel()->selectedRows();
        setSelectedRecording(
            rows.isEmpty() ? std::nullopt : std::optional(RecordingRowDelegate::recordingOf(rows.front()).id));
    });
    connect(list_, &QListView::customContextMenuRequested, this, [this](const QPoint& position) {
        const QModelIndex index = list_->indexAt(position);
        if (!index.isValid()) {
            return;
        }
        if (const std::optional<Recording> recording
            = services_.library.recording(RecordingRowDelegate::recordingOf(index).id)) {
            showContextMenu(*recording, position);
        }
    });
    listStack_->addWidget(list_);
    addListKeys();

    noRecordings_ = new PNEmptyState(
        services_.clock, QStringLiteral("mic.slash"), QStringLiteral("Žiadne nahrávky"), QStringLiteral("Začni nahrávaním"));
    noRecordings_->setObjectName(QStringLiteral("noRecordingsState"));
    listStack_->addWidget(noRecordings_);
    noMatches_ = new PNEmptyState(services_.clock, QStringLiteral("magnifyingglass"), QStringLiteral("Nič sa nenašlo"),
        QStringLiteral("Skús iné vyhľadávanie"));
    noMatches_->setObjectName(QStringLiteral("noMatchesState"));
    listStack_->addWidget(noMatches_);
    return listStack_;
}

QWidget* MacRecordingsListView::noSelectionView()
{
    auto* view = new QWidget(this);
    view->setObjectName(QStringLiteral("noSelectionView"));
    auto* layout = new QVBoxLayout(view);
    layout->setSpacing(24);
    layout->addStretch(1);
    auto* icon = new PNGradientIcon(QStringLiteral("waveform"), 60, LinearGradient::primaryGradient(), view);
    auto* faded = new QGraphicsOpacityEffect(icon);
    faded->setOpacity(0.5);
    icon->setGraphicsEffect(faded);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto* text = new PlainLabel(QStringLiteral("Vyber nahrávku"), Font::titleLarge(), Color::textSecondary(), view);
    text->setObjectName(QStringLiteral("noSelectionText"));
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    layout->addStretch(1);
    return view;
}

void MacRecordingsListView::addListKeys()
{
    // Only while the list has the focus: elsewhere Space and Delete belong to the focused control.
    const auto add = [this](Qt::Key key, const char* name, auto action) {
        auto* shortcut = new QShortcut(QKeySequence(key), list_, action);
        shortcut->setObjectName(QString::fromLatin1(name));
        shortcut->setContext(Qt::WidgetShortcut);
    };
    add(Qt::Key_Space, "playShortcut", [this] {
        if (const std::optional<Recording> recording = selectedRecording()) {
            isPlaying(recording->id) ? stopPlayback() : playRecording(*recording);
        }
    });
    add(Qt::Key_Delete, "deleteShortcut", [this] {
        if (const std::optional<Recording> recording = selectedRecording()) {
            deleteRecording(*recording);
        }
    });
}

bool MacRecordingsListView::matches(
    const Recording& recording, std::optional<RecordingCategory> category, const QString& searchText)
{
    if (category && recording.category != *category) {
        return false;
    }
    return searchText.isEmpty() || recording.title.contains(searchText, Qt::CaseInsensitive)
        || recording.transcription.contains(searchText, Qt::CaseInsensitive);
}

QList<Recording> MacRecordingsListView::filteredRecordings() const
{
    QList<Recording> filtered;
    for (const Recording& recording : services_.library.recordings()) {
        if (matches(recording, selectedRecordingCategory_, searchText())) {
            filtered.append(recording);
        }
    }
    return filtered;
}

QString MacRecordingsListView::countText() const
{
    return QStringLiteral("%1 recordings").arg(filter_->rowCount());
}

void MacRecordingsListView::applyFilter()
{
    syncingSelection_ = true;
    static_cast<RecordingsFilter*>(filter_)->setCriteria(selectedRecordingCategory_, searchText());
    selectRowOfSelection();
    syncingSelection_ = false;
    // The detail pane shows only what the list shows.
    if (selectedRecordingID_ && !isListed(*selectedRecordingID_)) {
        setSelectedRecording(std::nullopt);
    }
    count_->setText(countText());
    if (filter_->rowCount() > 0) {
        listStack_->setCurrentWidget(list_);
    } else {
        listStack_->setCurrentWidget(searchText().isEmpty() ? noRecordings_ : noMatches_);
    }
}

} // namespace parlino
