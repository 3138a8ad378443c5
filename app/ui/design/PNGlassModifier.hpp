#pragma once

#include <QWidget>

namespace parlino::design {

// A frosted panel behind one content widget: a rounded translucent fill with a light sheen and a
// hairline edge. Widgets cannot sample what lies behind them, so the frost is a brighter
// translucent layer rather than a true blur of the background.
class PNGlassModifier : public QWidget {
    Q_OBJECT

public:
    explicit PNGlassModifier(QWidget* content, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* content_;
    double cornerRadius_ = 12;
};

} // namespace parlino::design
