#include "app/ui/shell/ReturnKeyActivation.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>

namespace parlino {

ReturnKeyActivation::ReturnKeyActivation(QObject* parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

bool ReturnKeyActivation::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || modifiers != Qt::NoModifier) {
        return false;
    }
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !button->isEnabled() || !button->isVisible() || button != QApplication::focusWidget()) {
        return false;
    }
    button->click();
    return true;
}

} // namespace parlino
