#include "app/ui/recordings/MacRecordingsListView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/RecordingsListModel.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/ui/recordings/RecordingDetailView.hpp"
#include "app/ui/recordings/RecordingRowDelegate.hpp"
#include "app/ui/design/SheetWindow.hpp"
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

bool MacRecordingsListView::isPlaying(const QUuid& id) const
{
    const AudioPlayback& player = services_.audioPlayer;
    return player.isPlaying() && player.currentRecording() && player.currentRecording()->id == id;
}

void MacRecordingsListView::updatePlayState()
{
    const AudioPlayback& player = services_.audioPlayer;
    const std::optional<QUuid> playing
        = player.isPlaying() && player.currentRecording() ? std::optional(player.currentRecording()->id) : std::nullopt;
    if (!playing) {
        playbackStartedAt_.reset();
    } else if (playing != playingID_ || !playbackStartedAt_) {
        playbackStartedAt_ = services_.timer.now();
    }
    playingID_ = playing;
    const bool shownPlays = selectedRecordingID_ && isPlaying(*selectedRecordingID_);
    detail_->setIsPlaying(shownPlays, shownPlays ? playbackStartedAt_ : std::nullopt);
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
    if (!services_.library.canSyncWithCloud()) {
        StatusNotice::post(*this, services_.timer,
            QStringLiteral("No cloud store is set up: recordings stay on this computer"));
        return;
    }
    // Only the sync this click asked for reports its outcome in the window.
    auto failed = std::make_shared<bool>(false);
    auto watch = std::make_shared<QMetaObject::Connection>(
        connect(&services_.library, &LibraryService::syncFailed, this, [failed] { *failed = true; }));
    services_.library.syncWithCloud([self = QPointer(this), failed, watch] {
        QObject::disconnect(*watch);
        if (self) {
            StatusNotice::post(*self, self->services_.timer,
                *failed ? QStringLiteral("Sync with cloud failed") : QStringLiteral("Recordings synced with cloud"));
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
    design::SheetWindow::apply(*alert);
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

} // namespace parlino
