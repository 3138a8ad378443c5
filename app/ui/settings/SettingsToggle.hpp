#pragma once

#include "app/ui/design/AnimationClock.hpp"

#include <QString>
#include <QWidget>

namespace parlino {

namespace design {
class SwitchToggle;
}

// A switch with its title beside it; clicking the title flips it too. An empty title leaves the
// switch alone.
class SettingsToggle : public QWidget {
    Q_OBJECT

public:
    SettingsToggle(design::AnimationClock& clock, const QString& title, QWidget* parent = nullptr);

    design::SwitchToggle* toggle() const { return toggle_; }
    bool isChecked() const;
    // Shows the value without reporting it as the user's choice.
    void showValue(bool on);

signals:
    // Only when the user flips it.
    void flipped(bool on);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    design::SwitchToggle* toggle_;
};

} // namespace parlino
