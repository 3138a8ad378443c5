#include "app/ui/recordings/RecordingRowDelegate.hpp"

#include "app/library/RecordingsListModel.hpp"
#include "app/ui/recordings/RecordingRow.hpp"
#include "app/ui/design/Animation.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/Painting.hpp"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>

namespace parlino {

using namespace design;

namespace {

// The inset list: rows sit 8 points in from the list's edges, 2 apart, with room inside the
// highlight around the row's own padding.
const QMargins rowInset = {8, 1, 8, 1};
const QMargins highlightPadding = {10, 4, 10, 4};
constexpr double highlightRadius = 9;

} // namespace

RecordingRowDelegate::RecordingRowDelegate(AnimationClock& clock, QAbstractItemView* view)
    : QStyledItemDelegate(view)
    , clock_(clock)
    , view_(view)
    , viewport_(view->viewport())
    , frames_(clock)
{
    view_->setMouseTracking(true);
    viewport_->setMouseTracking(true);
    viewport_->installEventFilter(this);
}

Recording RecordingRowDelegate::recordingOf(const QModelIndex& index)
{
    Recording recording;
    recording.id = index.data(RecordingsListModel::IdRole).toUuid();
    recording.title = index.data(RecordingsListModel::TitleRole).toString();
    recording.transcription = index.data(RecordingsListModel::TranscriptionRole).toString();
    recording.duration = index.data(RecordingsListModel::DurationRole).toDouble();
    recording.date = index.data(RecordingsListModel::DateRole).toDateTime();
    recording.category = RecordingCategory::fromRawValue(index.data(RecordingsListModel::CategoryRole).toString())
                             .value_or(RecordingCategory::personal);
    recording.audioURL = index.data(RecordingsListModel::AudioURLRole).toString().toStdString();
    return recording;
}

void RecordingRowDelegate::setHoveredRecording(std::optional<QUuid> id)
{
    if (hovered_ == id) {
        return;
    }
    const double now = clock_.now();
    if (hovered_) {
        scales_[*hovered_].animateTo(1, Animation::quickEaseOut(), now);
    }
    hovered_ = id;
    if (hovered_) {
        auto found = scales_.find(*hovered_);
        if (found == scales_.end()) {
            found = scales_.insert(*hovered_, AnimatedValue(1));
        }
        found->animateTo(hoverScale, Animation::quickEaseOut(), now);
    }
    if (viewport_) {
        frames_.runWhile(viewport_, [this] { return isMoving(); });
    }
}

double RecordingRowDelegate::scaleOf(const QUuid& id) const
{
    const auto found = scales_.constFind(id);
    return found == scales_.cend() ? 1.0 : found->value(clock_.now());
}

bool RecordingRowDelegate::isMoving() const
{
    const double now = clock_.now();
    for (const AnimatedValue& scale : scales_) {
        if (scale.isMoving(now)) {
            return true;
        }
    }
    return false;
}

bool RecordingRowDelegate::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport_) {
        if (event->type() == QEvent::MouseMove) {
            const QModelIndex index = view_->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            setHoveredRecording(index.isValid() ? std::optional(recordingOf(index).id) : std::nullopt);
        } else if (event->type() == QEvent::Leave) {
            setHoveredRecording(std::nullopt);
        }
    }
    return QStyledItemDelegate::eventFilter(watched, event);
}

void RecordingRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const RecordingRow row(recordingOf(index));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF highlight = QRectF(option.rect.marginsRemoved(rowInset));
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) {
        const QPainterPath shape = roundedRect(highlight.adjusted(0.5, 0.5, -0.5, -0.5), highlightRadius);
        painter->fillPath(shape, Color::brandBlue().opacity(0.10).resolved());
        painter->setPen(QPen(Color::brandBlue().opacity(0.30).resolved(), 1));
        painter->drawPath(shape);
    } else if (hovered_ == row.recording().id) {
        painter->fillPath(roundedRect(highlight, highlightRadius), Color::surfaceSecondary().resolved());
    }
    // The row the keys act on, while the list has the keyboard focus.
    if ((option.state & QStyle::State_HasFocus) && option.widget && option.widget->hasFocus()) {
        painter->setPen(QPen(Color::brandBlue().opacity(0.8).resolved(), 2));
        painter->drawPath(roundedRect(highlight.adjusted(1, 1, -1, -1), highlightRadius));
    }
    painter->restore();
    row.paint(*painter, highlight.marginsRemoved(QMarginsF(highlightPadding)), scaleOf(row.recording().id));
}

QSize RecordingRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const RecordingRow row(recordingOf(index));
    const int height = row.height() + highlightPadding.top() + highlightPadding.bottom() + rowInset.top()
        + rowInset.bottom();
    return {option.rect.width(), height};
}

} // namespace parlino
