#include "app/ui/design/PNButton.hpp"

#include "app/ui/design/Font.hpp"
#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QMouseEvent>
#include <QPainter>

namespace parlino::design {

namespace {

struct SizeMetrics {
    QFont font;
    double iconSize;
    int height;
    int horizontalPadding;
    double cornerRadius;
};

SizeMetrics metricsOf(PNButton::Size size)
{
    switch (size) {
    case PNButton::Size::large: return {Font::textStyle(TextStyle::headline), 18, 52, 32, 16};
    case PNButton::Size::medium: return {Font::textStyle(TextStyle::subheadline, QFont::DemiBold), 14, 44, 24, 12};
    case PNButton::Size::small: return {Font::textStyle(TextStyle::caption, QFont::DemiBold), 14, 34, 16, 10};
    }
    return {Font::textStyle(TextStyle::headline), 18, 52, 32, 16};
}

const LinearGradient& backgroundOf(PNButton::Style style)
{
    static const LinearGradient flat({Color::surfaceTertiary()}, UnitPoint::leading, UnitPoint::trailing);
    switch (style) {
    case PNButton::Style::primary: return LinearGradient::primaryGradient();
    case PNButton::Style::secondary: return flat;
    case PNButton::Style::danger: return LinearGradient::dangerGradient();
    case PNButton::Style::success: return LinearGradient::successGradient();
    }
    return LinearGradient::primaryGradient();
}

QColor foregroundOf(PNButton::Style style)
{
    return style == PNButton::Style::secondary ? Color::textPrimary().resolved() : QColor(Qt::white);
}

QColor shadowOf(PNButton::Style style)
{
    switch (style) {
    case PNButton::Style::primary: return Color::brandBlue().opacity(0.4).resolved();
    case PNButton::Style::secondary: return QColor(0, 0, 0, 0);
    case PNButton::Style::danger: return Color::dangerRed().opacity(0.4).resolved();
    case PNButton::Style::success: return Color::successGreen().opacity(0.4).resolved();
    }
    return {};
}

const Animation& pressSpring()
{
    static const Animation spring = Animation::spring(0.2, 0.6, 0);
    return spring;
}

constexpr int labelSpacing = 8;

} // namespace

PNButton::PNButton(AnimationClock& clock, QString title, std::optional<QString> icon, Style style, Size size,
    bool fullWidth, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent)
    , clock_(clock)
    , title_(std::move(title))
    , icon_(std::move(icon))
    , style_(style)
    , size_(size)
    , fullWidth_(fullWidth)
    , frames_(clock)
{
    setAccessibleName(title_);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(fullWidth_ ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (action) {
        connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] { action(); });
    }
}

void PNButton::setTitle(const QString& title)
{
    title_ = title;
    setAccessibleName(title_);
    updateGeometry();
    update();
}

QMargins PNButton::shadowMargins()
{
    return {12, 6, 12, 16};
}

QRect PNButton::buttonRect() const
{
    return rect().marginsRemoved(shadowMargins());
}

QSize PNButton::sizeHint() const
{
    const SizeMetrics m = metricsOf(size_);
    double width = textWidth(title_, m.font);
    if (icon_) {
        width += m.iconSize + labelSpacing;
    }
    const QMargins margins = shadowMargins();
    return {static_cast<int>(std::ceil(width)) + 2 * m.horizontalPadding + margins.left() + margins.right(),
        m.height + margins.top() + margins.bottom()};
}

QSize PNButton::minimumSizeHint() const
{
    return sizeHint();
}

void PNButton::paintEvent(QPaintEvent*)
{
    const SizeMetrics m = metricsOf(size_);
    const double press = pressed_.value(clock_.now());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF button = buttonRect();
    painter.translate(button.center());
    painter.scale(1 - 0.05 * press, 1 - 0.05 * press);
    painter.translate(-button.center());

    const QPainterPath shape = roundedRect(button, m.cornerRadius);
    paintSoftShadow(painter, shape, shadowOf(style_), 8, QPointF(0, 4));
    painter.fillPath(shape, backgroundOf(style_).brush(button));
    if (press > 0) {
        painter.fillPath(shape, QColor(0, 0, 0, qBound(0, qRound(press * 20), 255)));
    }
    if (hasFocus() && focusPolicy() != Qt::NoFocus && !isDown()) {
        QPen ring(Color::brandBlue().opacity(0.35).resolved(), 2);
        painter.setPen(ring);
        painter.drawPath(roundedRect(button.adjusted(-2, -2, 2, 2), m.cornerRadius + 2));
        painter.setPen(Qt::NoPen);
    }

    const QColor foreground = foregroundOf(style_);
    const double titleWidth = textWidth(title_, m.font);
    const double labelWidth = titleWidth + (icon_ ? m.iconSize + labelSpacing : 0);
    double x = button.center().x() - labelWidth / 2;
    if (icon_) {
        painter.fillPath(symbolPath(*icon_, m.iconSize, QPointF(x + m.iconSize / 2, button.center().y())), foreground);
        x += m.iconSize + labelSpacing;
    }
    const QFontMetricsF fm(m.font);
    painter.fillPath(textPath(title_, m.font, QPointF(x, button.center().y() + (fm.ascent() - fm.descent()) / 2)),
        foreground);
}

void PNButton::mousePressEvent(QMouseEvent* event)
{
    QAbstractButton::mousePressEvent(event);
    animatePress(true);
}

void PNButton::mouseReleaseEvent(QMouseEvent* event)
{
    QAbstractButton::mouseReleaseEvent(event);
    animatePress(false);
}

void PNButton::animatePress(bool pressed)
{
    pressed_.animateTo(pressed ? 1 : 0, pressSpring(), clock_.now());
    frames_.runWhile(this, [this] { return pressed_.isMoving(clock_.now()); });
}

} // namespace parlino::design
