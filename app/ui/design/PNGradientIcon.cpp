#include "app/ui/design/PNGradientIcon.hpp"

#include "app/ui/design/Symbol.hpp"

#include <QPainter>

#include <cmath>

namespace parlino::design {

PNGradientIcon::PNGradientIcon(QString systemName, double size, LinearGradient gradient, QWidget* parent)
    : QWidget(parent)
    , systemName_(std::move(systemName))
    , size_(size)
    , gradient_(std::move(gradient))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PNGradientIcon::setSymbol(const QString& systemName, const LinearGradient& gradient)
{
    systemName_ = systemName;
    gradient_ = gradient;
    update();
}

void PNGradientIcon::paint(QPainter& painter, const QString& systemName, double size, const LinearGradient& gradient,
    QPointF center)
{
    const QPainterPath path = symbolPath(systemName, size, center);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, gradient.brush(path.boundingRect()));
    painter.restore();
}

QSize PNGradientIcon::sizeHint() const
{
    const int side = static_cast<int>(std::ceil(size_ * 1.25));
    return {side, side};
}

void PNGradientIcon::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, systemName_, size_, gradient_, QRectF(rect()).center());
}

} // namespace parlino::design
