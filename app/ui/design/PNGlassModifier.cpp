#include "app/ui/design/PNGlassModifier.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Painting.hpp"

#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

namespace parlino::design {

PNGlassModifier::PNGlassModifier(QWidget* content, QWidget* parent)
    : QWidget(parent)
    , content_(content)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
}

void PNGlassModifier::setCornerRadius(double radius)
{
    cornerRadius_ = radius;
    update();
}

void PNGlassModifier::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = roundedRect(panel, cornerRadius_);
    const bool dark = currentAppearance() == Appearance::dark;

    paintSoftShadow(painter, shape, QColor(0, 0, 0, dark ? 60 : 18), 10, QPointF(0, 3));
    // Ultra-thin material: mostly the backdrop, lifted toward white (or black) with a faint sheen.
    painter.fillPath(shape, dark ? QColor(30, 30, 32, 150) : QColor(255, 255, 255, 150));
    QLinearGradient sheen(panel.topLeft(), panel.bottomLeft());
    sheen.setColorAt(0, QColor(255, 255, 255, dark ? 22 : 70));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillPath(shape, sheen);

    QColor edge = Color::glassFill().resolved();
    if (!dark) {
        // White on a light backdrop vanishes; a hairline of the surface colour keeps the edge.
        painter.setPen(QPen(Color::surfaceTertiary().resolved(), 0.5));
        painter.drawPath(shape);
    }
    painter.setPen(QPen(edge, 0.5));
    painter.drawPath(roundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_ - 0.5));
}

} // namespace parlino::design
