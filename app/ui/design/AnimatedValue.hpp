#pragma once

#include "app/ui/design/Animation.hpp"

#include <optional>

namespace parlino::design {

// One animatable number: a change moves it from where it is shown now to the target along an
// animation, measured on an animation clock's time line.
class AnimatedValue {
public:
    explicit AnimatedValue(double initial = 0)
        : from_(initial)
        , to_(initial)
    {
    }

    void animateTo(double target, const Animation& animation, double now)
    {
        from_ = value(now);
        to_ = target;
        start_ = now;
        animation_ = animation;
    }
    void jumpTo(double target)
    {
        from_ = target;
        to_ = target;
        animation_.reset();
    }

    double value(double now) const
    {
        if (!animation_) {
            return to_;
        }
        return from_ + (to_ - from_) * animation_->fraction(now - start_);
    }
    double target() const { return to_; }
    bool isMoving(double now) const { return animation_ && !animation_->isFinished(now - start_); }

private:
    double from_;
    double to_;
    double start_ = 0;
    std::optional<Animation> animation_;
};

} // namespace parlino::design
