#pragma once

#include "app/recorder/Recording.hpp"
#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/FrameDriver.hpp"

#include <QHash>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QUuid>

#include <optional>

class QAbstractItemView;

namespace parlino {

// Draws the rows of the recordings list (a model with the roles of RecordingsListModel) as
// RecordingRow lines inset in the list, with a rounded highlight for the selection. The row under
// the pointer grows to 101 % and back with a 0.15 s ease-out.
class RecordingRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    RecordingRowDelegate(design::AnimationClock& clock, QAbstractItemView* view);

    static Recording recordingOf(const QModelIndex& index);

    std::optional<QUuid> hoveredRecording() const { return hovered_; }
    void setHoveredRecording(std::optional<QUuid> id);
    // The row's enlargement now: 1 at rest, 1.01 under the pointer.
    double scaleOf(const QUuid& id) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static constexpr double hoverScale = 1.01;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isMoving() const;

    design::AnimationClock& clock_;
    QAbstractItemView* view_;
    // Kept apart from the view: events reach the filter while the view is being destroyed.
    QPointer<QWidget> viewport_;
    std::optional<QUuid> hovered_;
    QHash<QUuid, design::AnimatedValue> scales_;
    design::FrameDriver frames_;
};

} // namespace parlino
