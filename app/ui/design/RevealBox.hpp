#pragma once

#include <QWidget>

class QGraphicsOpacityEffect;

namespace parlino::design {

// Holds one widget that can be faded and shifted down while a screen makes its entrance; at full
// opacity and no offset it draws the widget directly again.
class RevealBox : public QWidget {
    Q_OBJECT

public:
    explicit RevealBox(QWidget* content, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    void setReveal(double opacity, double offset);
    double revealOpacity() const { return opacity_; }
    double revealOffset() const { return offset_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void place();

    QWidget* content_;
    QGraphicsOpacityEffect* effect_ = nullptr;
    double opacity_ = 1;
    double offset_ = 0;
};

} // namespace parlino::design
