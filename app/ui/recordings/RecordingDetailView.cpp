#include "app/ui/recordings/RecordingDetailView.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/recorder/RecorderText.hpp"
#include "app/ui/recordings/AIAppLauncher.hpp"
#include "app/ui/ConsoleLog.hpp"
#include "app/ui/recordings/RecordingRow.hpp"
#include "app/ui/design/Animation.hpp"
#include "app/ui/design/AppearanceFollower.hpp"
#include "app/ui/design/BorderedButton.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/FlowLayout.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Labels.hpp"
#include "app/ui/design/MenuPicker.hpp"
#include "app/ui/design/PNGlassModifier.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/RevealBox.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPointer>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace parlino {

using namespace design;

RecordingDetailView::RecordingDetailView(AppServices& services, QWidget* parent)
    : AnimatedWidget(services.clock, parent)
    , services_(services)
{
    setObjectName(QStringLiteral("recordingDetail"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("recordingDetailScroll"));
    // Tab goes to the controls inside, and the area follows the focus.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea { background: transparent; }"));
    outer->addWidget(scroll_);

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("recordingDetailContent"));
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(30, 30, 30, 30);
    column->setSpacing(24);
    column->addWidget(headerBlock());
    actions_ = new RevealBox(actionCard(), content);
    column->addWidget(actions_, 0, Qt::AlignLeft);
    sendToAI_ = sendToAICard();
    column->addWidget(sendToAI_);
    column->addWidget(transcriptionBlock());
    column->addStretch(1);
    scroll_->setWidget(content);
    scroll_->viewport()->setAutoFillBackground(false);
    // The next piece of a long transcript comes when the reader reaches the end of what is shown.
    connect(scroll_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value >= scroll_->verticalScrollBar()->maximum()) {
            showNextTranscriptPiece();
        }
    });

    connect(&services_.library, &LibraryService::recordingsChanged, this, &RecordingDetailView::refresh);
    applyEntrance();
}

QWidget* RecordingDetailView::heading(const QString& symbol, const LinearGradient& gradient, const QString& title)
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new PNGradientIcon(symbol, 18, gradient, row));
    layout->addWidget(new PlainLabel(title, Font::titleMedium(), Color::textPrimary(), row));
    layout->addStretch(1);
    return row;
}

std::optional<Recording> RecordingDetailView::recording() const
{
    return recordingID_ ? services_.library.recording(*recordingID_) : std::nullopt;
}

void RecordingDetailView::setRecording(const QUuid& id)
{
    if (recordingID_ != id) {
        endEditing();
        showSaveError(std::nullopt);
        recordingID_ = id;
        scroll_->verticalScrollBar()->setValue(0);
    }
    refresh();
}

void RecordingDetailView::reset()
{
    endEditing();
    setAILaunchMethod(AILaunchMethod::clipboard);
}

void RecordingDetailView::setIsPlaying(bool playing, std::optional<Clock::TimePoint> startedAt)
{
    const bool started = playing && (!isPlaying_ || startedAt != playbackStartedAt_);
    isPlaying_ = playing;
    playbackStartedAt_ = playing ? startedAt : std::nullopt;
    refreshActions();
    if (started) {
        tickPlaybackPosition();
    }
}

QString RecordingDetailView::playbackPositionText() const
{
    const std::optional<Recording> shown = recording();
    if (!isPlaying_ || !playbackStartedAt_ || !shown) {
        return {};
    }
    const double elapsed = std::clamp(Clock::seconds(*playbackStartedAt_, services_.timer.now()), 0.0, shown->duration);
    return formattedDuration(elapsed) + QStringLiteral(" / ") + formattedDuration(shown->duration);
}

void RecordingDetailView::tickPlaybackPosition()
{
    playbackPosition_->setText(playbackPositionText());
    playbackPosition_->setVisible(!playbackPosition_->text().isEmpty());
    if (!isPlaying_) {
        return;
    }
    // One tick per started playback; a newer start or a stop ends this one.
    const auto startedAt = playbackStartedAt_;
    services_.timer.schedule(std::chrono::milliseconds(250), this, [this, startedAt] {
        if (isPlaying_ && playbackStartedAt_ == startedAt) {
            tickPlaybackPosition();
        }
    });
}

void RecordingDetailView::refresh()
{
    const std::optional<Recording> shown = recording();
    if (!shown) {
        return;
    }
    refreshHeader(*shown);
    refreshTranscript(*shown);
    refreshActions();
}

PNGlassModifier* RecordingDetailView::glassCard(QWidget* content, int padding, double cornerRadius, QWidget* parent)
{
    content->layout()->setContentsMargins(padding, padding, padding, padding);
    auto* card = new PNGlassModifier(content, parent);
    card->setCornerRadius(cornerRadius);
    return card;
}

void RecordingDetailView::appear()
{
    appeared_ = true;
    entrance_.jumpTo(0);
    entrance_.animateTo(1, Animation::smoothSpring().delay(0.1), now());
    refreshAppIcons();
    applyEntrance();
}

bool RecordingDetailView::isAnimating() const
{
    return entrance_.isMoving(now()) || titleRow_->revealOpacity() < 0.999 || titleRow_->revealOffset() != 0;
}

void RecordingDetailView::advance()
{
    applyEntrance();
}

void RecordingDetailView::applyEntrance()
{
    const double e = entrance_.value(now());
    const bool done = appeared_ && !entrance_.isMoving(now());
    const double opacity = done ? 1 : std::clamp(e, 0.0, 1.0);
    titleRow_->setReveal(opacity, done ? 0 : 10 * (1 - e));
    actions_->setReveal(opacity, 0);
}

} // namespace parlino
