#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace parlino::design {

// The one time source of every motion on screen. Widgets that animate hold an activity while they
// are visible; the clock ticks only while some activity is held, so hidden screens cost nothing.
// Tests give the screens a clock they advance by hand.
class AnimationClock : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Seconds on the clock's own time line.
    virtual double now() const = 0;

    void beginActivity();
    void endActivity();
    int activityCount() const { return activities_; }

signals:
    void ticked();

protected:
    virtual void setRunning(bool running) = 0;

private:
    int activities_ = 0;
};

// Frames at about 60 per second from the monotonic clock.
class SystemAnimationClock final : public AnimationClock {
    Q_OBJECT

public:
    explicit SystemAnimationClock(QObject* parent = nullptr);

    double now() const override;

protected:
    void setRunning(bool running) override;

private:
    QElapsedTimer elapsed_;
    QTimer frameTimer_;
};

} // namespace parlino::design
