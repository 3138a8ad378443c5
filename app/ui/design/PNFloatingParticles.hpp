#pragma once

#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/Color.hpp"

#include <cstdint>
#include <random>
#include <vector>

namespace parlino::design {

// Soft dots that drift out from the centre to random places and breathe between the two. The
// places are drawn afresh on each appearance from a generator seeded by the caller.
class PNFloatingParticles : public AnimatedWidget {
    Q_OBJECT

public:
    struct Particle {
        double x;
        double y;
        double scale;
        double opacity;
    };

    PNFloatingParticles(AnimationClock& clock, Color color, int count, std::uint32_t seed, QWidget* parent = nullptr);

    const std::vector<Particle>& positions() const { return positions_; }
    bool isAnimatingParticles() const { return animating_ && now() >= motionStart_; }
    // Where particle i is drawn now, in widget coordinates, and at what opacity.
    QPointF particleCenter(std::size_t index) const;
    double particleOpacity(std::size_t index) const;

protected:
    void appear() override;
    void paintEvent(QPaintEvent* event) override;

private:
    double motion(std::size_t index) const;

    Color color_;
    int count_;
    std::mt19937 random_;
    std::vector<Particle> positions_;
    bool animating_ = false;
    double motionStart_ = 0;
};

} // namespace parlino::design
