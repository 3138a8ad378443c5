#pragma once

namespace parlino::design {

// A timing curve with its duration, delay and repetition. `fraction` maps seconds since the change
// to how far the value has moved (a spring may pass 1 on its way).
class Animation {
public:
    enum class Curve { linear, easeOut, easeInOut, spring };

    static Animation linear(double duration);
    static Animation easeOut(double duration);
    static Animation easeInOut(double duration);
    static Animation spring(double response, double dampingFraction, double blendDuration = 0);

    Animation delay(double seconds) const;
    Animation repeatForever(bool autoreverses) const;

    Curve curve() const { return curve_; }
    double duration() const { return duration_; }
    double response() const { return response_; }
    double dampingFraction() const { return dampingFraction_; }
    double delaySeconds() const { return delay_; }
    bool repeatsForever() const { return repeatsForever_; }
    bool autoreverses() const { return autoreverses_; }

    double fraction(double elapsedSeconds) const;
    // True once a non-repeating animation has come to rest.
    bool isFinished(double elapsedSeconds) const;

    static const Animation& quickEaseOut();
    static const Animation& standardEaseOut();
    static const Animation& smoothSpring();
    static const Animation& pulseLoop();
    static const Animation& slowPulseLoop();

private:
    double onePass(double elapsedSeconds) const;
    // How long a spring takes to settle within a thousandth of its distance.
    double settleTime() const;

    Curve curve_ = Curve::linear;
    double duration_ = 0;
    double response_ = 0;
    double dampingFraction_ = 1;
    double delay_ = 0;
    bool repeatsForever_ = false;
    bool autoreverses_ = false;
};

} // namespace parlino::design
