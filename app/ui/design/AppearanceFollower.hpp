#pragma once

#include "app/ui/design/Color.hpp"

#include <QObject>

#include <functional>

class QWidget;

namespace parlino::design {

// Runs a widget's colouring now and again each time the application's appearance changes, for the
// colours a widget takes once (style sheets, icons) rather than resolving them as it paints.
class AppearanceFollower final : public QObject {
    Q_OBJECT

public:
    static void follow(QWidget* widget, std::function<void()> colour);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppearanceFollower(QWidget* widget, std::function<void()> colour);

    std::function<void()> colour_;
    Appearance applied_;
};

} // namespace parlino::design
