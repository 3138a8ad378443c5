#include "app/ui/recordings/MacRecordingsListView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsListModel.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/StatusNotice.hpp"
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
#include <memory>

namespace parlino {

using namespace design;

namespace {

// The library's rows that pass the pane's category filter and search.
class RecordingsFilter final : public QSortFilterProxyModel {
public:
    RecordingsFilter(RecordingsListModel& source, QObject* parent)
        : QSortFilterProxyModel(parent)
        , source_(source)
    {
        setSourceModel(&source);
        setDynamicSortFilter(false);
    }

    void setCriteria(std::optional<RecordingCategory> category, const QString& searchText)
    {
        category_ = category;
        searchText_ = searchText;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex&) const override
    {
        const std::optional<Recording> recording = source_.recordingAt(sourceRow);
        return recording && MacRecordingsListView::matches(*recording, category_, searchText_);
    }

private:
    RecordingsListModel& source_;
    std::optional<RecordingCategory> category_;
    QString searchText_;
};

// The search field's rounded grey box.
class SearchBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(roundedRect(QRectF(rect()), 8), Color::surfaceSecondary().resolved());
    }
};

QLabel* symbolLabel(const QString& symbol, const QColor& color, int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(symbol, color, size).pixmap(size, size));
    label->setFixedSize(size + 2, size + 2);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QFrame* line(QFrame::Shape shape, QWidget* parent)
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

constexpr int listMinimumWidth = 300;
constexpr int listIdealWidth = 400;

} // namespace

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

QWidget* MacRecordingsListView::topBar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("recordingsTopBar"));
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);

    categoryFilter_ = new MenuPicker(bar);
    categoryFilter_->setObjectName(QStringLiteral("categoryFilter"));
    categoryFilter_->setAccessibleName(QStringLiteral("Category"));
    categoryFilter_->setToolTip(QStringLiteral("Category"));
    setWidthAtLeast(*categoryFilter_, 150);
    categoryFilter_->setIconSize(QSize(14, 14));
    categoryFilter_->addItem(QStringLiteral("All"));
    categoryFilter_->insertSeparator(1);
    for (const RecordingCategory category : RecordingCategory::allCases()) {
        categoryFilter_->addItem(
            symbolIcon(category.icon(), Color::brandBlue().resolved(), 14), category.rawValue(), category.rawValue());
    }
    connect(categoryFilter_, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant raw = categoryFilter_->itemData(index);
        selectedRecordingCategory_ = raw.isValid() ? RecordingCategory::fromRawValue(raw.toString()) : std::nullopt;
        applyFilter();
    });
    layout->addWidget(categoryFilter_);
    layout->addWidget(line(QFrame::VLine, bar));
    layout->addWidget(searchBox(), 1);

    layout->addSpacing(4);
    auto* sync = toolbarButton(QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("Sync"),
        QStringLiteral("Sync with cloud"), "syncButton");
    connect(sync, &QToolButton::clicked, this, &MacRecordingsListView::syncWithCloud);
    layout->addWidget(sync);
    auto* help = toolbarButton(QStringLiteral("questionmark.circle"), QStringLiteral("Help"),
        QStringLiteral("Show help"), "helpButton");
    connect(help, &QToolButton::clicked, this, &MacRecordingsListView::helpRequested);
    layout->addWidget(help);
    auto* feedback = toolbarButton(QStringLiteral("envelope.fill"), QStringLiteral("Feedback"),
        QStringLiteral("Send feedback"), "feedbackButton");
    connect(feedback, &QToolButton::clicked, this, &MacRecordingsListView::feedbackRequested);
    layout->addWidget(feedback);

    count_ = new PlainLabel(QString(), Font::textStyle(TextStyle::caption), Color::textSecondary(), bar);
    count_->setObjectName(QStringLiteral("recordingsCount"));
    count_->setMinimumWidth(QFontMetrics(count_->font()).horizontalAdvance(QStringLiteral("0000 recordings")));
    count_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(count_);
    return bar;
}

QWidget* MacRecordingsListView::searchBox()
{
    auto* box = new SearchBox(this);
    box->setObjectName(QStringLiteral("searchBox"));
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(8, 6, 6, 6);
    layout->setSpacing(6);
    layout->addWidget(symbolLabel(QStringLiteral("magnifyingglass"), Color::textSecondary().resolved(), 14, box));
    search_ = new QLineEdit(box);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(QStringLiteral("Search recordings..."));
    search_->setFrame(false);
    search_->setStyleSheet(QStringLiteral("QLineEdit { border: none; background: transparent; padding: 0; }"));
    layout->addWidget(search_, 1);
    clearSearch_ = new QToolButton(box);
    clearSearch_->setObjectName(QStringLiteral("clearSearchButton"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    clearSearch_->setCursor(Qt::PointingHandCursor);
    clearSearch_->setAutoRaise(true);
    AppearanceFollower::follow(clearSearch_, [button = clearSearch_] {
        button->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill"), Color::textSecondary().resolved(), 14));
    });
    clearSearch_->setIconSize(QSize(14, 14));
    clearSearch_->setFixedSize(18, 18);
    clearSearch_->setStyleSheet(Theme::borderlessToolButtonSheet());
    clearSearch_->hide();
    layout->addWidget(clearSearch_);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        clearSearch_->setVisible(!text.isEmpty());
        applyFilter();
    });
    connect(clearSearch_, &QToolButton::clicked, this, [this] { search_->clear(); });
    return box;
}

QToolButton* MacRecordingsListView::toolbarButton(
    const QString& symbol, const QString& label, const QString& tooltip, const char* objectName)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(objectName));
    // Toolbar items show their symbol; the label is the accessible name, the tooltip the help.
    button->setText(escapedMnemonic(label));
    button->setAccessibleName(label);
    button->setToolTip(tooltip);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIconSize(QSize(17, 17));
    button->setFixedSize(30, 28);
    button->setCursor(Qt::PointingHandCursor);
    button->setAutoRaise(true);
    AppearanceFollower::follow(button, [button, symbol] {
        button->setIcon(symbolIcon(symbol, Color::textPrimary().opacity(0.75).resolved(), 17));
        button->setStyleSheet(QStringLiteral("QToolButton { border: none; border-radius: 6px; background: transparent; }"
                                             "QToolButton:hover { background: %1; }"
                                             "QToolButton:pressed { background: %2; }"
                                             "QToolButton:focus { border: 2px solid %3; }")
                .arg(Color::surfaceSecondary().resolved().name(), Color::surfaceTertiary().resolved().name(),
                    Color::brandBlue().resolved().name()));
    });
    return button;
}

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

QString MacRecordingsListView::searchText() const
{
    return search_->text();
}

void MacRecordingsListView::setSearchText(const QString& text)
{
    search_->setText(text);
}

void MacRecordingsListView::focusSearch()
{
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
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

void MacRecordingsListView::setSelectedRecordingCategory(std::optional<RecordingCategory> category)
{
    // The first entry is the no-filter "All"; the categories follow the separator.
    const int index = category ? categoryFilter_->findData(category->rawValue()) : 0;
    categoryFilter_->setCurrentIndex(index);
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
    count_->setText(countText());
    if (filter_->rowCount() > 0) {
        listStack_->setCurrentWidget(list_);
    } else {
        listStack_->setCurrentWidget(searchText().isEmpty() ? noRecordings_ : noMatches_);
    }
}

void MacRecordingsListView::selectRowOfSelection()
{
    const bool syncing = std::exchange(syncingSelection_, true);
    QItemSelectionModel* selection = list_->selectionModel();
    QModelIndex row;
    if (selectedRecordingID_) {
        for (int i = 0; i < filter_->rowCount(); ++i) {
            const QModelIndex index = filter_->index(i, 0);
            if (index.data(RecordingsListModel::IdRole).toUuid() == *selectedRecordingID_) {
                row = index;
                break;
            }
        }
    }
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

void MacRecordingsListView::libraryChanged()
{
    applyFilter();
    // A recording that is gone, by whatever road, leaves the pane.
    if (selectedRecordingID_ && !services_.library.recording(*selectedRecordingID_)) {
        setSelectedRecording(std::nullopt);
    }
}

bool MacRecordingsListView::isPlaying(const QUuid& id) const
{
    const AudioPlayback& player = services_.audioPlayer;
    return player.isPlaying() && player.currentRecording() && player.currentRecording()->id == id;
}

void MacRecordingsListView::updatePlayState()
{
    detail_->setIsPlaying(selectedRecordingID_ && isPlaying(*selectedRecordingID_));
}

void MacRecordingsListView::playRecording(const Recording& recording)
{
    // The player reports a failure itself.
    services_.audioPlayer.play(recording);
}

void MacRecordingsListView::stopPlayback()
{
    services_.audioPlayer.stop();
}

void MacRecordingsListView::deleteRecording(const Recording& recording)
{
    confirmDelete(recording, DeleteRoad::detailPane);
}

void MacRecordingsListView::syncWithCloud()
{
    // Only the sync this click asked for reports its failure in the window.
    auto failed = std::make_shared<bool>(false);
    auto watch = std::make_shared<QMetaObject::Connection>(
        connect(&services_.library, &LibraryService::syncFailed, this, [failed] { *failed = true; }));
    services_.library.syncWithCloud([self = QPointer(this), failed, watch] {
        QObject::disconnect(*watch);
        if (self && *failed) {
            StatusNotice::post(*self, self->services_.timer, QStringLiteral("Sync with cloud failed"));
        }
    });
}

void MacRecordingsListView::showContextMenu(const Recording& recording, QPoint position)
{
    auto* menu = new QMenu(list_);
    menu->setObjectName(QStringLiteral("recordingContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QUuid id = recording.id;
    QAction* play = menu->addAction(symbolIcon(QStringLiteral("play.fill"), Color::textPrimary().resolved(), 14),
        QStringLiteral("Play"));
    play->setObjectName(QStringLiteral("playAction"));
    connect(play, &QAction::triggered, this, [this, id] {
        if (const std::optional<Recording> current = services_.library.recording(id)) {
            playRecording(*current);
        }
    });
    QAction* remove = menu->addAction(symbolIcon(QStringLiteral("trash"), Color::dangerRed().resolved(), 14),
        QStringLiteral("Delete"));
    remove->setObjectName(QStringLiteral("deleteAction"));
    connect(remove, &QAction::triggered, this, [this, id] {
        if (const std::optional<Recording> current = services_.library.recording(id)) {
            confirmDelete(*current, DeleteRoad::contextMenu);
        }
    });
    contextMenu_ = menu;
    menu->popup(list_->viewport()->mapToGlobal(position));
}

void MacRecordingsListView::confirmDelete(const Recording& recording, DeleteRoad road)
{
    if (confirmation_) {
        confirmation_->close();
    }
    auto* alert = new QMessageBox(this);
    alert->setObjectName(QStringLiteral("deleteConfirmation"));
    alert->setWindowTitle(QStringLiteral("Parlino"));
    alert->setTextFormat(Qt::PlainText);
    alert->setIcon(QMessageBox::Warning);
    alert->setText(QStringLiteral("Delete “") + recording.title + QStringLiteral("”?"));
    alert->setInformativeText(QStringLiteral("The audio file and its transcription will be removed. This cannot be undone."));
    auto* confirm = alert->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    confirm->setObjectName(QStringLiteral("confirmDeleteButton"));
    confirm->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid %1; color: #FFFFFF; }")
            .arg(Color::dangerRed().resolved().name()));
    auto* cancel = alert->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelDeleteButton"));
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, confirm, recording, road](QAbstractButton* button) {
        if (button == confirm) {
            performDelete(recording, road);
        }
    });
    connect(alert, &QMessageBox::finished, alert, &QWidget::close);
    confirmation_ = alert;
    alert->open();
}

void MacRecordingsListView::performDelete(const Recording& recording, DeleteRoad road)
{
    // Its audio is about to go: a playback of it ends first.
    if (isPlaying(recording.id)) {
        stopPlayback();
    }
    try {
        services_.library.deleteRecording(recording);
    } catch (const std::exception& error) {
        consoleLine(QStringLiteral("❌ Failed to delete recording: ") + describe(error));
    }
    if (road == DeleteRoad::detailPane) {
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
        services_.library.loadRecordings();
        services_.library.syncWithCloud();
    }
}

void MacRecordingsListView::selectLatestSaved()
{
    // Only saves made while the pane is on screen select their recording.
    const std::optional<QUuid> latest = services_.library.latestSavedRecordingID();
    if (!isVisible() || !latest || !services_.library.recording(*latest)) {
        return;
    }
    setSelectedRecording(*latest);
    services_.library.clearLatestSavedRecordingID();
}

} // namespace parlino
