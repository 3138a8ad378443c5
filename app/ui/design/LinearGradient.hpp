#pragma once

#include "app/ui/design/Color.hpp"

#include <QLinearGradient>
#include <QPointF>
#include <QRectF>

#include <vector>

namespace parlino::design {

// Unit points of a filled area: (0, 0) is its top leading corner, (1, 1) its bottom trailing one.
namespace UnitPoint {
inline constexpr QPointF topLeading{0, 0};
inline constexpr QPointF top{0.5, 0};
inline constexpr QPointF bottomTrailing{1, 1};
inline constexpr QPointF bottom{0.5, 1};
inline constexpr QPointF leading{0, 0.5};
inline constexpr QPointF trailing{1, 0.5};
} // namespace UnitPoint

// A linear gradient whose colours are spaced evenly from its start point to its end point.
class LinearGradient {
public:
    LinearGradient(std::vector<Color> colors, QPointF startPoint, QPointF endPoint);

    const std::vector<Color>& colors() const { return colors_; }
    QPointF startPoint() const { return startPoint_; }
    QPointF endPoint() const { return endPoint_; }

    // The gradient laid over `area`, resolved for the current appearance.
    QLinearGradient brush(const QRectF& area) const { return brush(area, currentAppearance()); }
    QLinearGradient brush(const QRectF& area, Appearance appearance) const;
    // The colour half-way along, for places that need one colour (a shadow, a fallback).
    QColor middleColor() const;

    static const LinearGradient& recordingGradient();
    static const LinearGradient& primaryGradient();
    static const LinearGradient& successGradient();
    static const LinearGradient& dangerGradient();
    static const LinearGradient& infoGradient();
    static const LinearGradient& brandGradient();
    static const LinearGradient& warmGradient();
    static const LinearGradient& backgroundTintGradient();

private:
    std::vector<Color> colors_;
    QPointF startPoint_;
    QPointF endPoint_;
};

} // namespace parlino::design
