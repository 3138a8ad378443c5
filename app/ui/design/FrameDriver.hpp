#pragma once

#include "app/ui/design/AnimationClock.hpp"

#include <QMetaObject>
#include <QWidget>

#include <functional>

namespace parlino::design {

// Takes frames from the animation clock for one short motion of a widget (a press, a slide) and
// gives them back as soon as the motion has come to rest.
class FrameDriver {
public:
    explicit FrameDriver(AnimationClock& clock)
        : clock_(clock)
    {
    }
    ~FrameDriver() { stop(); }
    FrameDriver(const FrameDriver&) = delete;
    FrameDriver& operator=(const FrameDriver&) = delete;

    AnimationClock& clock() const { return clock_; }

    // Repaints `widget` on every frame while `moving` holds.
    void runWhile(QWidget* widget, std::function<bool()> moving)
    {
        widget->update();
        if (frames_) {
            return;
        }
        clock_.beginActivity();
        frames_ = QObject::connect(&clock_, &AnimationClock::ticked, widget,
            [this, widget, moving = std::move(moving)] {
                widget->update();
                if (!moving()) {
                    stop();
                }
            });
    }

    void stop()
    {
        if (frames_) {
            QObject::disconnect(frames_);
            frames_ = {};
            clock_.endActivity();
        }
    }

private:
    AnimationClock& clock_;
    QMetaObject::Connection frames_;
};

} // namespace parlino::design
