#include "app/ui/design/ScaleFadeEffect.hpp"

#include <QPainter>

#include <algorithm>

namespace parlino::design {

void ScaleFadeEffect::setScaleAndOpacity(double scale, double opacity)
{
    scale_ = scale;
    opacity_ = std::clamp(opacity, 0.0, 1.0);
    updateBoundingRect();
    update();
}

QRectF ScaleFadeEffect::boundingRectFor(const QRectF& sourceRect) const
{
    const double grown = std::max(1.0, scale_);
    const QPointF centre = sourceRect.center();
    return QRectF(centre.x() - sourceRect.width() * grown / 2, centre.y() - sourceRect.height() * grown / 2,
        sourceRect.width() * grown, sourceRect.height() * grown);
}

void ScaleFadeEffect::draw(QPainter* painter)
{
    if (opacity_ <= 0) {
        return;
    }
    QPoint offset;
    const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
    const QPointF centre = sourceBoundingRect(Qt::LogicalCoordinates).center();
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setOpacity(painter->opacity() * opacity_);
    painter->translate(centre);
    painter->scale(scale_, scale_);
    painter->translate(-centre);
    painter->drawPixmap(offset, picture);
    painter->restore();
}

} // namespace parlino::design
