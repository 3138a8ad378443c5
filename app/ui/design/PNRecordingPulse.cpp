#include "app/ui/design/PNRecordingPulse.hpp"

#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QConicalGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace parlino::design {

namespace {
constexpr double wheelBlur = 8;
}

PNRecordingPulse::PNRecordingPulse(AnimationClock& clock, double iconSize, double circleSize, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , iconSize_(iconSize)
    , circleSize_(circleSize)
{
    setAccessibleName(QStringLiteral("Recording in progress"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // A short screen gets it smaller, drawn to scale, before the controls below leave the screen.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setMaximumHeight(sizeHint().height());
}

QSize PNRecordingPulse::sizeHint() const
{
    const int side = static_cast<int>(std::ceil(circleSize_ + 60)) + 2 * overflow();
    return {side, side};
}

QSize PNRecordingPulse::minimumSizeHint() const
{
    const QSize full = sizeHint();
    return {full.width(), full.height() / 2};
}

int PNRecordingPulse::overflow() const
{
    // The outer ring is 60 points larger than the circle and swells to 1.2 times that.
    return static_cast<int>(std::ceil((circleSize_ + 60) * 0.1)) + 2;
}

void PNRecordingPulse::appear()
{
    isPulsing_ = true;
    const double t = now();
    for (std::size_t i = 0; i < rings_.size(); ++i) {
        rings_[i].jumpTo(0);
        rings_[i].animateTo(
            1, Animation::easeInOut(1.2 + 0.2 * i).repeatForever(true).delay(0.15 * static_cast<double>(i)), t);
    }
    glow_.jumpTo(0);
    glow_.animateTo(1, Animation::pulseLoop(), t);
    rotation_.jumpTo(0);
    rotation_.animateTo(360, Animation::linear(4).repeatForever(false), t);
}

const QImage& PNRecordingPulse::colourWheel()
{
    const double scale = devicePixelRatioF();
    const int side = static_cast<int>(std::ceil((circleSize_ + 4 * wheelBlur) * scale));
    if (wheel_.width() == side) {
        return wheel_;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        const QPointF center(side / scale / 2, side / scale / 2);
        QConicalGradient wheel(center, 0);
        wheel.setColorAt(0, Color::accentOrange().opacity(0.35).resolved());
        wheel.setColorAt(1.0 / 3, Color::dangerRed().opacity(0.25).resolved());
        wheel.setColorAt(2.0 / 3, Color::brandPink().opacity(0.3).resolved());
        wheel.setColorAt(1, Color::accentOrange().opacity(0.35).resolved());
        p.setPen(Qt::NoPen);
        p.setBrush(wheel);
        p.drawEllipse(center, circleSize_ / 2, circleSize_ / 2);
    }
    wheel_ = blurredImage(image, wheelBlur * scale);
    wheel_.setDevicePixelRatio(scale);
    return wheel_;
}

void PNRecordingPulse::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF center = QRectF(rect()).center();
    const double fit = std::min(1.0, height() / double(sizeHint().height()));
    painter.translate(center);
    painter.scale(fit, fit);
    painter.translate(-center);
    const double t = now();

    for (std::size_t index = 0; index < rings_.size(); ++index) {
        const double i = static_cast<double>(index);
        const double p = isPulsing_ ? rings_[index].value(t) : 0;
        const double scale = 0.95 + (1.1 + 0.05 * i - 0.95) * p;
        const double opacity = 0.3 + (0.8 - 0.25 * i - 0.3) * p;
        const double side = (circleSize_ + 30 * i) * scale;
        const QRectF ring(center - QPointF(side / 2, side / 2), QSizeF(side, side));
        const LinearGradient stroke({Color::accentOrange().opacity(0.3 - 0.1 * i),
                                        Color::dangerRed().opacity(0.2 - 0.05 * i), Color::brandPink().opacity(0.1)},
            UnitPoint::topLeading, UnitPoint::bottomTrailing);
        painter.setOpacity(opacity);
        painter.setPen(QPen(QBrush(stroke.brush(ring)), 2 * scale));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(ring);
    }
    painter.setOpacity(1);

    const QImage& wheel = colourWheel();
    painter.save();
    painter.translate(center);
    painter.rotate(rotation_.value(t));
    const QSizeF wheelSize = QSizeF(wheel.size()) / wheel.devicePixelRatio();
    painter.drawImage(QPointF(-wheelSize.width() / 2, -wheelSize.height() / 2), wheel);
    painter.restore();

    const double glowScale = 1 + 0.15 * (isPulsing_ ? glow_.value(t) : 0);
    const double glowRadius = circleSize_ / 2 * glowScale;
    QRadialGradient glow(center, glowRadius);
    glow.setColorAt(0, Color::accentOrange().opacity(0.2).resolved());
    glow.setColorAt(0.5, Color::dangerRed().opacity(0.1).resolved());
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(center, glowRadius, glowRadius);

    const QPainterPath mic = symbolPath(QStringLiteral("mic.fill"), iconSize_, center);
    paintSoftShadow(painter, mic, Color::accentOrange().opacity(0.5).resolved(), 10);
    painter.fillPath(mic, LinearGradient::recordingGradient().brush(mic.boundingRect()));
}

} // namespace parlino::design
