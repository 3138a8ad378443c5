#pragma once

#include "app/ui/design/Color.hpp"

#include <QWidget>

namespace parlino::design {

// A rounded rectangle filled with one design colour behind whatever the widget holds: cards,
// tinted panels and the backgrounds of text editors.
class RoundedSurface : public QWidget {
    Q_OBJECT

public:
    RoundedSurface(Color fill, double cornerRadius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Color fill_;
    double cornerRadius_;
};

} // namespace parlino::design
