#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/Animation.hpp"
#include "app/ui/design/FrameDriver.hpp"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace parlino::design {

// How a screen enters or leaves: from or to this scale about its centre, fading in or out.
struct ScreenMotion {
    double scale = 1;

    static ScreenMotion opacity() { return {}; }
    static ScreenMotion scaleAndOpacity(double scale) { return {scale}; }
};

// Swaps two screens that lie on top of each other: the outgoing one shrinks or grows to its
// removal scale and fades out while the incoming one grows from its insertion scale and fades in,
// both along one animation on the clock. The outgoing screen is hidden when the motion ends; a new
// swap first ends the one still running.
class ScreenTransition : public QObject {
    Q_OBJECT

public:
    explicit ScreenTransition(AnimationClock& clock, QObject* parent = nullptr);
    ~ScreenTransition() override;

    void run(QWidget* outgoing, ScreenMotion removal, QWidget* incoming, ScreenMotion insertion, const Animation& animation);
    // Ends a running swap at once, as if its motion were over.
    void finish();
    bool isRunning() const { return running_; }

private:
    void step();
    static void setMotion(QWidget* screen, double scale, double opacity);
    static void release(QWidget* screen);

    FrameDriver frames_;
    QPointer<QWidget> outgoing_;
    QPointer<QWidget> incoming_;
    ScreenMotion removal_;
    ScreenMotion insertion_;
    AnimatedValue progress_;
    bool running_ = false;
};

} // namespace parlino::design
