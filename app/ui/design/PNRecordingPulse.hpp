#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"

#include <QImage>

#include <array>

namespace parlino::design {

// The recording emblem: three breathing rings, a turning blurred colour wheel, a pulsing glow and
// a gradient microphone.
class PNRecordingPulse : public AnimatedWidget {
    Q_OBJECT

public:
    PNRecordingPulse(AnimationClock& clock, double iconSize, double circleSize, QWidget* parent = nullptr);

    bool isPulsing() const { return isPulsing_; }
    double rotation() const { return rotation_.value(now()); }

    // How far the swelling rings reach past the outer ring's resting frame, on each side.
    int overflow() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void appear() override;
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage& colourWheel();

    bool isPulsing_ = false;
    AnimatedValue rotation_;
    double iconSize_;
    double circleSize_;
    std::array<AnimatedValue, 3> rings_;
    AnimatedValue glow_;
    QImage wheel_;
};

} // namespace parlino::design
