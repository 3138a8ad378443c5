#include "app/ui/design/PNShimmerModifier.hpp"

#include "app/ui/design/Painting.hpp"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace parlino::design {

PNShimmerModifier::PNShimmerModifier(AnimationClock& clock, QString text, QFont font, Color color, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , text_(std::move(text))
    , font_(std::move(font))
    , color_(std::move(color))
{
    setAccessibleName(text_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PNShimmerModifier::sizeHint() const
{
    const QFontMetricsF metrics(font_);
    return {static_cast<int>(std::ceil(textWidth(text_, font_))) + 2, static_cast<int>(std::ceil(metrics.height()))};
}

void PNShimmerModifier::appear()
{
    phase_.jumpTo(0);
    phase_.animateTo(1.5, Animation::linear(2).repeatForever(false), now());
}

void PNShimmerModifier::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(font_);
    const QRectF area = rect();
    const double x = (area.width() - textWidth(text_, font_)) / 2;
    const QPainterPath glyphs = textPath(text_, font_, QPointF(x, (area.height() + metrics.ascent() - metrics.descent()) / 2));
    painter.fillPath(glyphs, color_.resolved());

    const double p = phase();
    QLinearGradient band(QPointF(area.width() * (p - 0.5), 0), QPointF(area.width() * (p + 0.5), 0));
    band.setColorAt(0, QColor(255, 255, 255, 0));
    band.setColorAt(0.5, QColor(255, 255, 255, 77));
    band.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillPath(glyphs, band);
}

} // namespace parlino::design
