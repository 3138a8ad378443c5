#include "app/ui/design/AppearanceFollower.hpp"

#include <QEvent>
#include <QWidget>

namespace parlino::design {

AppearanceFollower::AppearanceFollower(QWidget* widget, std::function<void()> colour)
    : QObject(widget)
    , colour_(std::move(colour))
    , applied_(currentAppearance())
{
    widget->installEventFilter(this);
}

void AppearanceFollower::follow(QWidget* widget, std::function<void()> colour)
{
    colour();
    new AppearanceFollower(widget, std::move(colour));
}

bool AppearanceFollower::eventFilter(QObject* watched, QEvent* event)
{
    // A new theme reaches a widget as one of these, depending on what it sets itself; only a change
    // of appearance recolours it.
    const QEvent::Type type = event->type();
    if ((type == QEvent::ApplicationPaletteChange || type == QEvent::PaletteChange || type == QEvent::StyleChange)
        && currentAppearance() != applied_) {
        applied_ = currentAppearance();
        colour_();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace parlino::design
