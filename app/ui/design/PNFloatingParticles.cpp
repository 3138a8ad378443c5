#include "app/ui/design/PNFloatingParticles.hpp"

#include "app/ui/design/Animation.hpp"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

namespace parlino::design {

PNFloatingParticles::PNFloatingParticles(
    AnimationClock& clock, Color color, int count, std::uint32_t seed, QWidget* parent)
    : AnimatedWidget(clock, parent)
    , color_(std::move(color))
    , count_(std::max(0, count))
    , random_(seed)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PNFloatingParticles::appear()
{
    const auto draw = [this](double low, double high) { return std::uniform_real_distribution(low, high)(random_); };
    positions_.clear();
    for (int i = 0; i < count_; ++i) {
        Particle particle{};
        particle.x = draw(0.1, 0.9);
        particle.y = draw(0.1, 0.9);
        particle.scale = draw(0.5, 2.0);
        particle.opacity = draw(0.1, 0.4);
        positions_.push_back(particle);
    }
    // The motion starts a tenth of a second after the places are set, from the centre.
    animating_ = true;
    motionStart_ = now() + 0.1;
}

double PNFloatingParticles::motion(std::size_t index) const
{
    if (!animating_ || now() < motionStart_) {
        return 0;
    }
    const double i = static_cast<double>(index);
    return Animation::easeInOut(2 + 0.3 * i).repeatForever(true).delay(0.2 * i).fraction(now() - motionStart_);
}

QPointF PNFloatingParticles::particleCenter(std::size_t index) const
{
    const Particle& p = positions_.at(index);
    const QPointF centre(width() * 0.5, height() * 0.5);
    const QPointF place(width() * p.x, height() * p.y);
    return centre + (place - centre) * motion(index);
}

double PNFloatingParticles::particleOpacity(std::size_t index) const
{
    return positions_.at(index).opacity * motion(index);
}

void PNFloatingParticles::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const std::size_t shown = std::min(static_cast<std::size_t>(count_), positions_.size());
    for (std::size_t i = 0; i < shown; ++i) {
        const double opacity = particleOpacity(i);
        if (opacity <= 0) {
            continue;
        }
        // The blur of radius 2 as a soft rim around the dot.
        const double radius = 3 * positions_[i].scale + 2;
        const QPointF centre = particleCenter(i);
        QRadialGradient dot(centre, radius);
        const QColor solid = color_.opacity(opacity).resolved();
        QColor rim = solid;
        rim.setAlpha(0);
        dot.setColorAt(0, solid);
        dot.setColorAt(std::max(0.0, 1 - 4 / radius), solid);
        dot.setColorAt(1, rim);
        painter.setBrush(dot);
        painter.drawEllipse(centre, radius, radius);
    }
}

} // namespace parlino::design
