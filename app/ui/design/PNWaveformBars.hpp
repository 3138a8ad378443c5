#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/Color.hpp"

#include <vector>

namespace parlino::design {

// A row of rounded bars that rise and fall out of phase: a decorative level display.
class PNWaveformBars : public AnimatedWidget {
    Q_OBJECT

public:
    // The height of bar i while animating is `height` times entry i mod 7 of this table.
    static constexpr double heightFactors[7] = {0.6, 1.0, 0.75, 0.9, 0.5, 0.85, 0.7};
    static constexpr double restingFactor = 0.2;

    PNWaveformBars(AnimationClock& clock, int barCount, Color color, double height, QWidget* parent = nullptr);

    bool isAnimatingBars() const { return animating_; }
    // Bar heights as drawn now.
    std::vector<double> barHeights() const;

    QSize sizeHint() const override;

protected:
    void appear() override;
    void paintEvent(QPaintEvent* event) override;

private:
    int barCount_;
    Color color_;
    double height_;
    bool animating_ = false;
    std::vector<AnimatedValue> bars_;
};

} // namespace parlino::design
