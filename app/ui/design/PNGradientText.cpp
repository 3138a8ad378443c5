#include "app/ui/design/PNGradientText.hpp"

#include "app/ui/design/Painting.hpp"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace parlino::design {

PNGradientText::PNGradientText(AnimationClock& clock, QString text, QFont font, LinearGradient gradient,
    bool monospacedDigits, std::optional<PNGlowModifier> glow, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , text_(std::move(text))
    , font_(std::move(font))
    , gradient_(std::move(gradient))
    , monospacedDigits_(monospacedDigits)
    , glow_(std::move(glow))
{
    setAccessibleName(text_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void PNGradientText::setText(const QString& text)
{
    if (text == text_) {
        return;
    }
    const bool resize = text.size() != text_.size();
    text_ = text;
    setAccessibleName(text_);
    if (resize) {
        updateGeometry();
    }
    update();
}

QSize PNGradientText::sizeHint() const
{
    const QFontMetricsF metrics(font_);
    // The glow spreads sideways past the text; above and below, the line's own leading holds it.
    const int margin = glow_ ? static_cast<int>(std::ceil(glow_->radius)) : 0;
    return {static_cast<int>(std::ceil(textWidth(text_, font_, monospacedDigits_))) + 2 * margin,
        static_cast<int>(std::ceil(metrics.ascent() + metrics.descent()))};
}

void PNGradientText::appear()
{
    if (!glow_) {
        return;
    }
    glowing_ = true;
    glowLevel_.jumpTo(0);
    glowLevel_.animateTo(1, Animation::slowPulseLoop(), now());
}

void PNGradientText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(font_);
    const double width = textWidth(text_, font_, monospacedDigits_);
    const QPointF origin((this->width() - width) / 2, (height() + metrics.ascent() - metrics.descent()) / 2);
    const QPainterPath glyphs = textPath(text_, font_, origin, monospacedDigits_);

    if (glow_) {
        // The glow swells from half its radius at 0.2 opacity to its full radius at 0.6; the two
        // blurs are cross-faded so each stays cached while the level moves.
        const double level = glowing_ ? glowLevel_.value(now()) : 0;
        const QColor colour = glow_->color.resolved();
        painter.setOpacity(0.2 * (1 - level));
        paintSoftShadow(painter, glyphs, colour, glow_->radius / 2);
        painter.setOpacity(0.6 * level);
        paintSoftShadow(painter, glyphs, colour, glow_->radius);
        painter.setOpacity(1);
    }
    painter.fillPath(glyphs, gradient_.brush(glyphs.boundingRect()));
}

} // namespace parlino::design
