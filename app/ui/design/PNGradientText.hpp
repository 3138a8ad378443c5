#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimatedWidget.hpp"
#include "app/ui/design/LinearGradient.hpp"

#include <QFont>
#include <QString>

#include <optional>

namespace parlino::design {

// A glow under content that swells and fades every 2 s.
struct PNGlowModifier {
    Color color;
    double radius;
};

// One line of text filled with a gradient, optionally with equal-width digits and a glow: the
// running timer.
class PNGradientText : public AnimatedWidget {
    Q_OBJECT

public:
    PNGradientText(AnimationClock& clock, QString text, QFont font, LinearGradient gradient, bool monospacedDigits,
        std::optional<PNGlowModifier> glow, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    bool isGlowing() const { return glowing_; }

    QSize sizeHint() const override;

protected:
    void appear() override;
    bool isAnimating() const override { return glow_.has_value(); }
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QFont font_;
    LinearGradient gradient_;
    bool monospacedDigits_;
    std::optional<PNGlowModifier> glow_;
    bool glowing_ = false;
    AnimatedValue glowLevel_;
};

} // namespace parlino::design
