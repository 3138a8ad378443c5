#include "app/ui/design/RoundedSurface.hpp"

#include "app/ui/design/Painting.hpp"

#include <QPainter>

namespace parlino::design {

RoundedSurface::RoundedSurface(Color fill, double cornerRadius, QWidget* parent)
    : QWidget(parent)
    , fill_(std::move(fill))
    , cornerRadius_(cornerRadius)
{
}

void RoundedSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedRect(QRectF(rect()), cornerRadius_), fill_.resolved());
}

} // namespace parlino::design
