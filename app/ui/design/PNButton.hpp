#pragma once

#include "app/ui/design/AnimatedValue.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/FrameDriver.hpp"

#include <QAbstractButton>
#include <QMargins>
#include <QString>

#include <functional>
#include <optional>

namespace parlino::design {

// The design's gradient action button: an optional symbol and a title on a rounded gradient with
// a coloured shadow, shrinking slightly while pressed. The title is drawn as plain text.
class PNButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Size { large, medium, small };
    enum class Style { primary, secondary, danger, success };

    PNButton(AnimationClock& clock, QString title, std::optional<QString> icon, Style style, Size size,
        bool fullWidth, std::function<void()> action, QWidget* parent = nullptr);

    QString title() const { return title_; }
    void setTitle(const QString& title);
    Style style() const { return style_; }
    Size size() const { return size_; }

    // The painted button inside the widget; the rest is room for its shadow.
    QRect buttonRect() const;
    static QMargins shadowMargins();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void animatePress(bool pressed);

    AnimationClock& clock_;
    QString title_;
    std::optional<QString> icon_;
    Style style_;
    Size size_;
    bool fullWidth_;
    AnimatedValue pressed_;
    FrameDriver frames_;
};

} // namespace parlino::design
