#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"

namespace parlino {

// The orange "Push-to-Talk..." capsule at the top of the detail area while a dictation runs; it
// slides in from the top edge and fades, and its microphone pulses.
class PushToTalkPill : public design::AnimatedWidget {
    Q_OBJECT

public:
    explicit PushToTalkPill(design::AnimationClock& clock, QWidget* parent = nullptr);

    void setActive(bool active);
    bool isActive() const { return active_; }
    // 0 when fully away, 1 when fully in.
    double presence() const { return presence_.value(now()); }

    QSize sizeHint() const override;

protected:
    bool isAnimating() const override;
    void advance() override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool active_ = false;
    design::AnimatedValue presence_;
    design::AnimatedValue pulse_;
};

} // namespace parlino
