#pragma once

#include "app/ui/design/AnimationClock.hpp"

#include <QMetaObject>
#include <QWidget>

namespace parlino::design {

// A widget that draws motion from an animation clock. It takes frames only while it is visible,
// and runs `appear` each time it comes on screen (not when its window is merely restored).
class AnimatedWidget : public QWidget {
    Q_OBJECT

public:
    explicit AnimatedWidget(AnimationClock& clock, QWidget* parent = nullptr);
    ~AnimatedWidget() override;

    AnimationClock& clock() const { return clock_; }
    double now() const { return clock_.now(); }

protected:
    // Called on every appearance; starts the component's own motion.
    virtual void appear() {}
    // Whether the next frame would differ from this one; frames stop while false.
    virtual bool isAnimating() const { return true; }
    // Runs on each frame while animating, before the repaint: for motion that moves child widgets.
    virtual void advance() {}

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void startFrames();
    void stopFrames();

    AnimationClock& clock_;
    QMetaObject::Connection tickConnection_;
    bool appeared_ = false;
};

} // namespace parlino::design
