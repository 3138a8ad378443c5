#include "app/ui/design/SwitchToggle.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Painting.hpp"

#include <QPainter>

namespace parlino::design {

namespace {
constexpr QSize trackSize(32, 18);
}

SwitchToggle::SwitchToggle(AnimationClock& clock, QWidget* parent)
    : QAbstractButton(parent)
    , clock_(clock)
    , frames_(clock)
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SwitchToggle::sizeHint() const
{
    return trackSize + QSize(4, 4);
}

void SwitchToggle::checkStateSet()
{
    QAbstractButton::checkStateSet();
    // Set from outside (a setting read back): no slide.
    knob_.jumpTo(isChecked() ? 1 : 0);
    update();
}

void SwitchToggle::nextCheckState()
{
    QAbstractButton::nextCheckState();
    slide();
}

void SwitchToggle::slide()
{
    knob_.animateTo(isChecked() ? 1 : 0, Animation::quickEaseOut(), clock_.now());
    frames_.runWhile(this, [this] { return knob_.isMoving(clock_.now()); });
}

void SwitchToggle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Disabled: the stored state stays readable, greyed.
    if (!isEnabled()) {
        painter.setOpacity(0.45);
    }
    const QRectF track(QPointF((width() - trackSize.width()) / 2.0, (height() - trackSize.height()) / 2.0),
        QSizeF(trackSize));
    const double on = knob_.value(clock_.now());
    const QColor offColour = currentAppearance() == Appearance::dark ? QColor(0x48, 0x48, 0x4A) : QColor(0xD1, 0xD1, 0xD6);
    const QColor onColour = Color::brandBlue().resolved();
    const QColor fill = QColor::fromRgbF(offColour.redF() + (onColour.redF() - offColour.redF()) * on,
        offColour.greenF() + (onColour.greenF() - offColour.greenF()) * on,
        offColour.blueF() + (onColour.blueF() - offColour.blueF()) * on);
    painter.fillPath(roundedRect(track, track.height() / 2), fill);
    if (hasFocus()) {
        painter.setPen(QPen(Color::brandBlue().opacity(0.35).resolved(), 2));
        painter.drawPath(roundedRect(track.adjusted(-1.5, -1.5, 1.5, 1.5), track.height() / 2 + 1.5));
        painter.setPen(Qt::NoPen);
    }
    const double knobSize = track.height() - 4;
    const double x = track.left() + 2 + (track.width() - knobSize - 4) * on;
    QPainterPath knob;
    knob.addEllipse(QRectF(x, track.top() + 2, knobSize, knobSize));
    paintSoftShadow(painter, knob, QColor(0, 0, 0, 60), 2, QPointF(0, 1));
    painter.fillPath(knob, Qt::white);
}

} // namespace parlino::design
