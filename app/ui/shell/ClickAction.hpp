#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace parlino {

// Makes a picture act like a button: a left click on it (pressed and released inside it) runs the
// action, and the pointer shows that it can be clicked. Owned by the widget.
class ClickAction : public QObject {
    Q_OBJECT

public:
    static ClickAction* install(QWidget& widget, std::function<void()> action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ClickAction(QWidget& widget, std::function<void()> action);

    QWidget& widget_;
    std::function<void()> action_;
    bool pressed_ = false;
};

} // namespace parlino
