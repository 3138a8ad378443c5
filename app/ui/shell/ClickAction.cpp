#include "app/ui/shell/ClickAction.hpp"

#include <QMouseEvent>
#include <QWidget>

namespace parlino {

ClickAction* ClickAction::install(QWidget& widget, std::function<void()> action)
{
    return new ClickAction(widget, std::move(action));
}

ClickAction::ClickAction(QWidget& widget, std::function<void()> action)
    : QObject(&widget)
    , widget_(widget)
    , action_(std::move(action))
{
    widget.setAttribute(Qt::WA_TransparentForMouseEvents, false);
    widget.setCursor(Qt::PointingHandCursor);
    widget.installEventFilter(this);
}

bool ClickAction::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &widget_) {
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        pressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        return pressed_;
    }
    if (event->type() == QEvent::MouseButtonRelease && pressed_) {
        pressed_ = false;
        const auto* release = static_cast<QMouseEvent*>(event);
        if (release->button() == Qt::LeftButton && widget_.rect().contains(release->position().toPoint()) && action_) {
            action_();
        }
        return true;
    }
    return false;
}

} // namespace parlino
