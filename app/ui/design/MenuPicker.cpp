#include "app/ui/design/MenuPicker.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QPainter>
#include <QWheelEvent>

namespace parlino::design {

namespace {

constexpr double chevronSize = 12;
constexpr int chevronRoom = 22;

} // namespace

MenuPicker::MenuPicker(QWidget* parent)
    : QComboBox(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setStyleSheet(QStringLiteral("QComboBox { padding-right: %1px; }").arg(chevronRoom));
}

void setWidthAtLeast(QComboBox& picker, int width)
{
    picker.setMinimumWidth(width);
    picker.setSizePolicy(QSizePolicy::Fixed, picker.sizePolicy().verticalPolicy());
}

void MenuPicker::paintEvent(QPaintEvent* event)
{
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF center(width() - chevronRoom / 2.0 - 1, height() / 2.0);
    painter.fillPath(symbolPath(QStringLiteral("chevron.up.chevron.down"), chevronSize, center),
        Color::textSecondary().resolved());
}

void MenuPicker::wheelEvent(QWheelEvent* event)
{
    event->ignore();
}

} // namespace parlino::design
