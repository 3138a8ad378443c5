#pragma once

#include <QGraphicsEffect>

namespace parlino::design {

// Draws a widget scaled about its centre and at an opacity, for screens that come and go.
class ScaleFadeEffect final : public QGraphicsEffect {
    Q_OBJECT

public:
    using QGraphicsEffect::QGraphicsEffect;

    void setScaleAndOpacity(double scale, double opacity);
    double scale() const { return scale_; }
    double opacity() const { return opacity_; }

    QRectF boundingRectFor(const QRectF& sourceRect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    double scale_ = 1;
    double opacity_ = 1;
};

} // namespace parlino::design
