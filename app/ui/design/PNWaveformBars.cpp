#include "app/ui/design/PNWaveformBars.hpp"

#include "app/ui/design/Painting.hpp"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace parlino::design {

namespace {
constexpr double barWidth = 4;
constexpr double barSpacing = 3;
} // namespace

PNWaveformBars::PNWaveformBars(AnimationClock& clock, int barCount, Color color, double height, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , barCount_(std::max(0, barCount))
    , color_(std::move(color))
    , height_(height)
    , bars_(static_cast<std::size_t>(barCount_), AnimatedValue(restingFactor))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PNWaveformBars::sizeHint() const
{
    const double width = barCount_ * barWidth + std::max(0, barCount_ - 1) * barSpacing;
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height_))};
}

void PNWaveformBars::appear()
{
    animating_ = true;
    const double t = now();
    for (std::size_t i = 0; i < bars_.size(); ++i) {
        const double factor = heightFactors[i % 7];
        bars_[i].jumpTo(restingFactor);
        bars_[i].animateTo(factor,
            Animation::easeInOut(0.4 + 0.1 * static_cast<double>(i))
                .repeatForever(true)
                .delay(0.08 * static_cast<double>(i)),
            t);
    }
}

std::vector<double> PNWaveformBars::barHeights() const
{
    std::vector<double> heights;
    heights.reserve(bars_.size());
    for (const AnimatedValue& bar : bars_) {
        heights.push_back(height_ * (animating_ ? bar.value(now()) : restingFactor));
    }
    return heights;
}

void PNWaveformBars::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const std::vector<double> heights = barHeights();
    const double total = barCount_ * barWidth + std::max(0, barCount_ - 1) * barSpacing;
    double x = (width() - total) / 2;
    const double middle = height() / 2.0;
    for (const double h : heights) {
        const QRectF bar(x, middle - h / 2, barWidth, h);
        QLinearGradient fill(bar.bottomLeft(), bar.topLeft());
        fill.setColorAt(0, color_.resolved());
        fill.setColorAt(1, color_.opacity(0.5).resolved());
        painter.fillPath(roundedRect(bar, 2), fill);
        x += barWidth + barSpacing;
    }
}

} // namespace parlino::design
