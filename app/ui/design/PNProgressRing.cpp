#include "app/ui/design/PNProgressRing.hpp"

#include <QPainter>

#include <algorithm>

namespace parlino::design {

PNProgressRing::PNProgressRing(AnimationClock& clock, double progress, double lineWidth, LinearGradient gradient,
    QWidget* parent)
    : AnimatedWidget(clock, parent)
    , progress_(progress)
    , lineWidth_(lineWidth)
    , gradient_(std::move(gradient))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PNProgressRing::setProgress(double progress)
{
    if (progress == progress_) {
        return;
    }
    progress_ = progress;
    animatedProgress_.animateTo(progress_, Animation::easeOut(0.5), now());
    update();
}

void PNProgressRing::appear()
{
    animatedProgress_.jumpTo(0);
    animatedProgress_.animateTo(progress_, Animation::easeOut(1.0), now());
}

void PNProgressRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height()) - lineWidth_;
    const QRectF circle(QRectF(rect()).center() - QPointF(side / 2, side / 2), QSizeF(side, side));

    painter.setPen(QPen(Color::surfaceTertiary().resolved(), lineWidth_));
    painter.drawEllipse(circle);

    const double trimmed = std::clamp(animatedProgress(), 0.0, 1.0);
    if (trimmed <= 0) {
        return;
    }
    QPen arc(QBrush(gradient_.brush(circle)), lineWidth_, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(circle, 90 * 16, -static_cast<int>(trimmed * 360 * 16));
}

} // namespace parlino::design
