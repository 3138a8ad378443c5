#include "app/ui/settings/GlowingSymbol.hpp"

#include "app/ui/design/Labels.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QPainter>
#include <QRadialGradient>
#include <QVBoxLayout>

namespace parlino {

using namespace design;

GlowingSymbol::GlowingSymbol(Look look, QWidget* parent)
    : QWidget(parent)
    , look_(std::move(look))
{
    setFixedSize(look_.side, look_.side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GlowingSymbol::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF center = QRectF(rect()).center();
    const double end = look_.haloEndRadius;
    QRadialGradient halo(center, end);
    const QColor color = look_.haloColor.opacity(look_.haloOpacity).resolved();
    QColor clear = color;
    clear.setAlpha(0);
    halo.setColorAt(0, color);
    halo.setColorAt(look_.haloStartRadius / end, color);
    halo.setColorAt(1, clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(halo);
    painter.drawEllipse(center, end, end);

    const QPainterPath glyph = symbolPath(look_.symbol, look_.symbolSize, center);
    paintSoftShadow(painter, glyph, look_.haloColor.opacity(0.4).resolved(), look_.glowRadius);
    PNGradientIcon::paint(painter, look_.symbol, look_.symbolSize, look_.gradient, center);
}

QWidget* sheetHeader(GlowingSymbol::Look look, const QString& title, const QFont& titleFont, const QString& subtitle,
    const QFont& subtitleFont, int spacing, int topPadding, QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, topPadding, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(new GlowingSymbol(std::move(look), header), 0, Qt::AlignHCenter);
    layout->addWidget(new PlainLabel(title, titleFont, Color::textPrimary(), header), 0, Qt::AlignHCenter);
    layout->addWidget(new PlainLabel(subtitle, subtitleFont, Color::textSecondary(), header), 0, Qt::AlignHCenter);
    return header;
}

} // namespace parlino
