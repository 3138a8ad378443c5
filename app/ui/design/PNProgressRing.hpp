#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/LinearGradient.hpp"

namespace parlino::design {

// A circular track with a gradient arc that starts at twelve o'clock and grows clockwise. The arc
// sweeps to its value over 1 s when the ring appears and over 0.5 s on each later change.
class PNProgressRing : public AnimatedWidget {
    Q_OBJECT

public:
    PNProgressRing(AnimationClock& clock, double progress, double lineWidth, LinearGradient gradient,
        QWidget* parent = nullptr);

    double progress() const { return progress_; }
    void setProgress(double progress);
    // The arc's length as drawn now.
    double animatedProgress() const { return animatedProgress_.value(now()); }

protected:
    void appear() override;
    bool isAnimating() const override { return animatedProgress_.isMoving(now()); }
    void paintEvent(QPaintEvent* event) override;

private:
    double progress_;
    double lineWidth_;
    LinearGradient gradient_;
    AnimatedValue animatedProgress_;
};

} // namespace parlino::design
