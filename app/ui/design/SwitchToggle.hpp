#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/FrameDriver.hpp"

#include <QAbstractButton>

namespace parlino::design {

// The small switch of the settings rows: a pill track in the brand colour when on, with a sliding
// white knob; faded while disabled.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT

public:
    explicit SwitchToggle(AnimationClock& clock, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void checkStateSet() override;
    void nextCheckState() override;

private:
    void slide();

    AnimationClock& clock_;
    AnimatedValue knob_;
    FrameDriver frames_;
};

} // namespace parlino::design
