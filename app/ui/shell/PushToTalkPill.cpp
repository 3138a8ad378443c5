#include "app/ui/shell/PushToTalkPill.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace parlino {

using namespace design;

namespace {
const QString pillText = QStringLiteral("Push-to-Talk...");
constexpr double topPadding = 8;
constexpr QMargins shadowRoom(12, 0, 12, 14);

QFont pillFont()
{
    return Font::textStyle(TextStyle::caption, QFont::DemiBold);
}
} // namespace

PushToTalkPill::PushToTalkPill(AnimationClock& clock, QWidget* parent)
    : AnimatedWidget(clock, parent)
{
    setObjectName(QStringLiteral("pushToTalkPill"));
    setAccessibleName(pillText);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

QSize PushToTalkPill::sizeHint() const
{
    const double width = 18 + 8 + textWidth(pillText, pillFont()) + 2 * 16;
    const double height = std::max(18.0, QFontMetricsF(pillFont()).height()) + 2 * 8;
    return {static_cast<int>(std::ceil(width)) + shadowRoom.left() + shadowRoom.right(),
        static_cast<int>(std::ceil(height + topPadding)) + shadowRoom.bottom()};
}

void PushToTalkPill::setActive(bool active)
{
    if (active == active_) {
        return;
    }
    active_ = active;
    presence_.animateTo(active ? 1 : 0, Animation::smoothSpring(), now());
    if (active) {
        pulse_.jumpTo(0);
        pulse_.animateTo(1, Animation::easeInOut(0.8).repeatForever(true), now());
        show();
        raise();
    }
    update();
}

bool PushToTalkPill::isAnimating() const
{
    // While shown it takes frames, so the frame after the exit ends can hide it.
    return active_ || presence_.isMoving(now()) || isVisible();
}

void PushToTalkPill::advance()
{
    if (!active_ && !presence_.isMoving(now())) {
        hide();
    }
}

void PushToTalkPill::paintEvent(QPaintEvent*)
{
    const double presence = std::clamp(presence_.value(now()), 0.0, 1.2);
    if (presence <= 0) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(std::min(1.0, presence));
    const QRectF capsuleArea = QRectF(rect()).marginsRemoved(shadowRoom.toMarginsF());
    const QRectF capsule(capsuleArea.left(), capsuleArea.top() + topPadding - (1 - presence) * capsuleArea.height(),
        capsuleArea.width(), capsuleArea.height() - topPadding);
    const QPainterPath shape = roundedRect(capsule, capsule.height() / 2);
    paintSoftShadow(painter, shape, Color::accentOrange().opacity(0.4).resolved(), 8);
    painter.fillPath(shape, Color::accentOrange().opacity(0.9).resolved());

    // The symbol's pulse: its opacity breathes between full and a third.
    const double pulse = active_ ? pulse_.value(now()) : 0;
    painter.save();
    painter.setOpacity(painter.opacity() * (1 - 0.65 * pulse));
    const QPointF iconCentre(capsule.left() + 16 + 9, capsule.center().y());
    painter.fillPath(symbolPath(QStringLiteral("mic.circle.fill"), 18, iconCentre), Qt::white);
    painter.restore();
    const QFontMetricsF metrics(pillFont());
    painter.fillPath(textPath(pillText, pillFont(),
                         QPointF(capsule.left() + 16 + 18 + 8, capsule.center().y() + (metrics.ascent() - metrics.descent()) / 2)),
        Qt::white);
}

} // namespace parlino
