#include "app/ui/design/Labels.hpp"

#include <QEvent>

namespace parlino::design {

PlainLabel::PlainLabel(const QString& text, const QFont& font, Color color, QWidget* parent)
    : QLabel(parent)
    , color_(std::move(color))
{
    setTextFormat(Qt::PlainText);
    setText(text);
    setFont(font);
    applyColor();
}

void PlainLabel::setColor(Color color)
{
    color_ = std::move(color);
    applyColor();
}

void PlainLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        const QColor wanted = color_.resolved();
        if (palette().color(QPalette::WindowText) != wanted) {
            applyColor();
        }
    }
}

void PlainLabel::applyColor()
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color_.resolved());
    p.setColor(QPalette::Text, color_.resolved());
    setPalette(p);
}

QString escapedMnemonic(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace parlino::design
