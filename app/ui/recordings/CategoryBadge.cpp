#include "app/ui/recordings/CategoryBadge.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/PNGradientIcon.hpp"

#include <QPainter>
#include <QRadialGradient>

namespace parlino {

using namespace design;

CategoryBadge::CategoryBadge(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(50, 50);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CategoryBadge::setSymbol(const QString& symbol)
{
    symbol_ = symbol;
    update();
}

void CategoryBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF center = QRectF(rect()).center();
    QRadialGradient glow(center, 25);
    glow.setColorAt(0, Color::brandBlue().opacity(0.15).resolved());
    glow.setColorAt(0.2, Color::brandBlue().opacity(0.15).resolved());
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(center, 25, 25);
    PNGradientIcon::paint(painter, symbol_, 28, LinearGradient::primaryGradient(), center);
}

} // namespace parlino
