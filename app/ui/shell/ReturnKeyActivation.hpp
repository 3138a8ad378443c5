#pragma once

#include <QObject>

namespace parlino {

// Return and Enter press the button that has the keyboard focus, as Space does, in every window of
// the application (the toolkit's own buttons outside dialogs take only Space).
class ReturnKeyActivation : public QObject {
    Q_OBJECT

public:
    explicit ReturnKeyActivation(QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace parlino
