#pragma once

#include "app/ui/design/LinearGradient.hpp"

#include <QString>
#include <QWidget>

namespace parlino::design {

// A symbol painted with a gradient that fills the glyph's shape.
class PNGradientIcon : public QWidget {
    Q_OBJECT

public:
    PNGradientIcon(QString systemName, double size, LinearGradient gradient, QWidget* parent = nullptr);

    QString systemName() const { return systemName_; }
    void setSymbol(const QString& systemName, const LinearGradient& gradient);

    // The same drawing for composite widgets: the symbol at `size` centred on `center`.
    static void paint(QPainter& painter, const QString& systemName, double size, const LinearGradient& gradient,
        QPointF center);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString systemName_;
    double size_;
    LinearGradient gradient_;
};

} // namespace parlino::design
