#include "app/ui/design/ScreenTransition.hpp"

#include "app/ui/design/ScaleFadeEffect.hpp"

#include <algorithm>

namespace parlino::design {

ScreenTransition::ScreenTransition(AnimationClock& clock, QObject* parent)
    : QObject(parent)
    , frames_(clock)
{
}

ScreenTransition::~ScreenTransition()
{
    frames_.stop();
}

void ScreenTransition::run(
    QWidget* outgoing, ScreenMotion removal, QWidget* incoming, ScreenMotion insertion, const Animation& animation)
{
    finish();
    outgoing_ = outgoing;
    incoming_ = incoming;
    removal_ = removal;
    insertion_ = insertion;
    running_ = true;
    progress_.jumpTo(0);
    progress_.animateTo(1, animation, frames_.clock().now());
    // The screen that leaves takes no more clicks; the one that comes lies on top.
    outgoing_->setAttribute(Qt::WA_TransparentForMouseEvents);
    outgoing_->show();
    incoming_->show();
    incoming_->raise();
    step();
    frames_.runWhile(incoming_, [this] {
        step();
        return running_;
    });
}

void ScreenTransition::step()
{
    if (!running_) {
        return;
    }
    const double now = frames_.clock().now();
    if (!progress_.isMoving(now) || !outgoing_ || !incoming_) {
        finish();
        return;
    }
    const double p = progress_.value(now);
    setMotion(incoming_, insertion_.scale + (1 - insertion_.scale) * p, std::clamp(p, 0.0, 1.0));
    setMotion(outgoing_, 1 + (removal_.scale - 1) * p, std::clamp(1 - p, 0.0, 1.0));
}

void ScreenTransition::finish()
{
    if (!running_) {
        return;
    }
    running_ = false;
    frames_.stop();
    if (outgoing_) {
        outgoing_->hide();
        outgoing_->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        release(outgoing_);
    }
    if (incoming_) {
        release(incoming_);
    }
}

void ScreenTransition::setMotion(QWidget* screen, double scale, double opacity)
{
    auto* effect = qobject_cast<ScaleFadeEffect*>(screen->graphicsEffect());
    if (!effect) {
        effect = new ScaleFadeEffect(screen);
        screen->setGraphicsEffect(effect);
    }
    effect->setScaleAndOpacity(scale, opacity);
}

void ScreenTransition::release(QWidget* screen)
{
    if (qobject_cast<ScaleFadeEffect*>(screen->graphicsEffect())) {
        screen->setGraphicsEffect(nullptr); // deletes the effect
    }
}

} // namespace parlino::design
