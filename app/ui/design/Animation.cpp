#include "app/ui/design/Animation.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace parlino::design {

namespace {

// y of a cubic Bézier timing curve from (0, 0) to (1, 1) at x, found by bisection.
double cubicBezier(double x1, double y1, double x2, double y2, double x)
{
    const auto bezier = [](double a, double b, double t) {
        const double u = 1 - t;
        return 3 * u * u * t * a + 3 * u * t * t * b + t * t * t;
    };
    double low = 0;
    double high = 1;
    double t = x;
    for (int i = 0; i < 40; ++i) {
        t = (low + high) / 2;
        if (bezier(x1, x2, t) < x) {
            low = t;
        } else {
            high = t;
        }
    }
    return bezier(y1, y2, t);
}

} // namespace

Animation Animation::linear(double duration)
{
    Animation animation;
    animation.curve_ = Curve::linear;
    animation.duration_ = duration;
    return animation;
}

Animation Animation::easeOut(double duration)
{
    Animation animation = linear(duration);
    animation.curve_ = Curve::easeOut;
    return animation;
}

Animation Animation::easeInOut(double duration)
{
    Animation animation = linear(duration);
    animation.curve_ = Curve::easeInOut;
    return animation;
}

Animation Animation::spring(double response, double dampingFraction, double /*blendDuration*/)
{
    Animation animation;
    animation.curve_ = Curve::spring;
    animation.response_ = response;
    animation.dampingFraction_ = dampingFraction;
    animation.duration_ = animation.settleTime();
    return animation;
}

Animation Animation::delay(double seconds) const
{
    Animation animation = *this;
    animation.delay_ = seconds;
    return animation;
}

Animation Animation::repeatForever(bool autoreverses) const
{
    Animation animation = *this;
    animation.repeatsForever_ = true;
    animation.autoreverses_ = autoreverses;
    return animation;
}

double Animation::settleTime() const
{
    if (curve_ != Curve::spring || response_ <= 0) {
        return duration_;
    }
    const double omega = 2 * std::numbers::pi / response_;
    const double zeta = std::clamp(dampingFraction_, 0.05, 1.0);
    return std::log(1000.0) / (zeta * omega);
}

double Animation::onePass(double t) const
{
    if (duration_ <= 0) {
        return 1;
    }
    switch (curve_) {
    case Curve::linear: return std::clamp(t / duration_, 0.0, 1.0);
    case Curve::easeOut: return cubicBezier(0, 0, 0.58, 1, std::clamp(t / duration_, 0.0, 1.0));
    case Curve::easeInOut: return cubicBezier(0.42, 0, 0.58, 1, std::clamp(t / duration_, 0.0, 1.0));
    case Curve::spring: {
        if (t >= duration_) {
            return 1;
        }
        const double omega = 2 * std::numbers::pi / response_;
        const double zeta = std::clamp(dampingFraction_, 0.0, 1.0);
        if (zeta >= 1) {
            return 1 - (1 + omega * t) * std::exp(-omega * t);
        }
        const double damped = omega * std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-zeta * omega * t) * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
    }
    }
    return 1;
}

double Animation::fraction(double elapsedSeconds) const
{
    const double t = elapsedSeconds - delay_;
    if (t <= 0) {
        return 0;
    }
    if (!repeatsForever_ || duration_ <= 0) {
        return onePass(t);
    }
    const double passes = t / duration_;
    const double whole = std::floor(passes);
    const double within = (passes - whole) * duration_;
    const bool reversed = autoreverses_ && static_cast<long long>(whole) % 2 == 1;
    return reversed ? 1 - onePass(within) : onePass(within);
}

bool Animation::isFinished(double elapsedSeconds) const
{
    return !repeatsForever_ && elapsedSeconds - delay_ >= duration_;
}

const Animation& Animation::quickEaseOut()
{
    static const Animation animation = easeOut(0.15);
    return animation;
}

const Animation& Animation::standardEaseOut()
{
    static const Animation animation = easeOut(0.3);
    return animation;
}

const Animation& Animation::smoothSpring()
{
    static const Animation animation = spring(0.6, 0.75, 0);
    return animation;
}

const Animation& Animation::pulseLoop()
{
    static const Animation animation = easeInOut(1.0).repeatForever(true);
    return animation;
}

const Animation& Animation::slowPulseLoop()
{
    static const Animation animation = easeInOut(2.0).repeatForever(true);
    return animation;
}

} // namespace parlino::design
