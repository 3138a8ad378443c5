#include "app/ui/design/Divider.hpp"

#include "app/ui/design/Color.hpp"

#include <QPainter>

namespace parlino::design {

Divider::Divider(int height, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(height);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(QRectF(0, (height() - 1) / 2, width(), 1), Color::surfaceTertiary().resolved());
}

} // namespace parlino::design
