#include "app/ui/design/AnimatedWidget.hpp"

#include <QShowEvent>

namespace parlino::design {

AnimatedWidget::AnimatedWidget(AnimationClock& clock, QWidget* parent)
    : QWidget(parent)
    , clock_(clock)
{
}

AnimatedWidget::~AnimatedWidget()
{
    stopFrames();
}

void AnimatedWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startFrames();
    if (!appeared_) {
        appeared_ = true;
        appear();
    }
}

void AnimatedWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    stopFrames();
    // A window minimised or covered hides its widgets spontaneously; that is no new appearance.
    if (!event->spontaneous()) {
        appeared_ = false;
    }
}

void AnimatedWidget::startFrames()
{
    if (tickConnection_) {
        return;
    }
    clock_.beginActivity();
    tickConnection_ = connect(&clock_, &AnimationClock::ticked, this, [this] {
        if (isAnimating()) {
            advance();
            update();
        }
    });
}

void AnimatedWidget::stopFrames()
{
    if (!tickConnection_) {
        return;
    }
    disconnect(tickConnection_);
    tickConnection_ = {};
    clock_.endActivity();
}

} // namespace parlino::design
