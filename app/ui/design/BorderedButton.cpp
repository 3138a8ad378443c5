#include "app/ui/design/BorderedButton.hpp"

#include "app/ui/design/Font.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QPainter>

#include <cmath>

namespace parlino::design {

namespace {

constexpr double cornerRadius = 7;
constexpr double labelSpacing = 6;
// The spinner: the platform's small indicator scaled to 0.7, one turn a second.
constexpr double spinnerSide = 16 * 0.7;

// Deep enough on a light fill, and light enough on a dark one, to read as text.
QColor inkOf(QColor tint)
{
    if (currentAppearance() == Appearance::dark) {
        return tint.lightnessF() < 0.75 ? tint.lighter(160) : tint;
    }
    return tint.lightnessF() > 0.45 ? tint.darker(135) : tint;
}

} // namespace

BorderedButton::BorderedButton(AnimationClock& clock, QString title, std::optional<QString> symbol,
    Prominence prominence, std::optional<Color> tint, QWidget* parent)
    : QAbstractButton(parent)
    , clock_(clock)
    , title_(std::move(title))
    , symbol_(std::move(symbol))
    , prominence_(prominence)
    , tint_(std::move(tint))
    , font_(Font::textStyle(TextStyle::callout, QFont::Medium))
    , frames_(clock)
{
    setAccessibleName(title_);
    setCursor(Qt::PointingHandCursor);
    // Like the platform's buttons: reached by Tab, not focused by a click.
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BorderedButton::setLabel(const QString& title, std::optional<QString> symbol, Prominence prominence)
{
    title_ = title;
    symbol_ = std::move(symbol);
    prominence_ = prominence;
    setAccessibleName(title_);
    updateGeometry();
    update();
}

void BorderedButton::setImage(const QIcon& image, int side, double cornerRadius)
{
    image_ = image;
    imageSide_ = side;
    imageRadius_ = cornerRadius;
    updateGeometry();
    update();
}

void BorderedButton::setBusy(bool busy)
{
    if (busy_ == busy) {
        return;
    }
    busy_ = busy;
    updateGeometry();
    spin();
    update();
}

void BorderedButton::setMetrics(const QFont& font, double symbolSize, QMargins padding)
{
    font_ = font;
    symbolSize_ = symbolSize;
    padding_ = padding;
    updateGeometry();
    update();
}

double BorderedButton::leadingWidth() const
{
    if (busy_) {
        return spinnerSide + labelSpacing;
    }
    if (!image_.isNull()) {
        return imageSide_ + labelSpacing;
    }
    return symbol_ ? symbolSize_ + labelSpacing : 0;
}

QSize BorderedButton::sizeHint() const
{
    const QFontMetricsF metrics(font_);
    const double content = leadingWidth() + textWidth(title_, font_);
    const double lineHeight = std::max({metrics.height(), symbolSize_, static_cast<double>(imageSide_)});
    return {static_cast<int>(std::ceil(content)) + padding_.left() + padding_.right(),
        static_cast<int>(std::ceil(lineHeight)) + padding_.top() + padding_.bottom()};
}

QSize BorderedButton::minimumSizeHint() const
{
    return sizeHint();
}

void BorderedButton::showEvent(QShowEvent* event)
{
    QAbstractButton::showEvent(event);
    spin();
}

void BorderedButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    hovered_ = true;
    update();
}

void BorderedButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    hovered_ = false;
    update();
}

void BorderedButton::spin()
{
    if (busy_ && isVisible()) {
        frames_.runWhile(this, [this] { return busy_ && isVisible(); });
    }
}

void BorderedButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) {
        painter.setOpacity(0.55);
    }
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -1.5);
    const QPainterPath shape = roundedRect(area, cornerRadius);
    const bool pressed = isDown();
    const bool active = isEnabled() && (hovered_ || pressed);

    QColor ink;
    if (prominence_ == Prominence::prominent) {
        const QColor fill = (tint_ ? *tint_ : Color::brandBlue()).resolved();
        paintSoftShadow(painter, shape, QColor(fill.red(), fill.green(), fill.blue(), 70), 4, QPointF(0, 1.5));
        painter.fillPath(shape, pressed ? fill.darker(118) : active ? fill.darker(108) : fill);
        ink = Qt::white;
    } else if (tint_) {
        QColor fill = tint_->resolved();
        fill.setAlphaF(pressed ? 0.26 : active ? 0.19 : 0.12);
        painter.fillPath(shape, fill);
        QColor edge = tint_->resolved();
        edge.setAlphaF(0.22);
        painter.setPen(QPen(edge, 1));
        painter.drawPath(shape);
        ink = inkOf(tint_->resolved());
    } else {
        paintSoftShadow(painter, shape, QColor(0, 0, 0, 18), 3, QPointF(0, 1));
        static const Color rest = Color::adaptive(QColor(Qt::white), QColor(0x3A, 0x3A, 0x3C));
        static const Color hover = Color::adaptive(QColor(0xF4, 0xF4, 0xF7), QColor(0x48, 0x48, 0x4A));
        static const Color down = Color::adaptive(QColor(0xE5, 0xE5, 0xEA), QColor(0x54, 0x54, 0x56));
        static const Color edge = Color::adaptive(QColor(0xD1, 0xD1, 0xD6), QColor(0x54, 0x54, 0x56));
        painter.fillPath(shape, (pressed ? down : active ? hover : rest).resolved());
        painter.setPen(QPen(edge.resolved(), 1));
        painter.drawPath(shape);
        ink = Color::textPrimary().resolved();
    }
    painter.setPen(Qt::NoPen);
    if (hasFocus() && !pressed) {
        painter.setPen(QPen(Color::brandBlue().opacity(0.35).resolved(), 2));
        painter.drawPath(roundedRect(area.adjusted(1, 1, -1, -1), cornerRadius - 1));
        painter.setPen(Qt::NoPen);
    }

    const QRectF content = QRectF(rect()).marginsRemoved(QMarginsF(padding_));
    const double labelWidth = leadingWidth() + textWidth(title_, font_);
    double x = content.center().x() - labelWidth / 2;
    const double middle = content.center().y();
    if (busy_) {
        const QRectF box(x, middle - spinnerSide / 2, spinnerSide, spinnerSide);
        const double turn = std::fmod(clock_.now(), 1.0) * 360;
        QPen pen(ink, 1.6);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        painter.drawArc(box.adjusted(1, 1, -1, -1), qRound(-turn * 16), 270 * 16);
        painter.setPen(Qt::NoPen);
        x += spinnerSide + labelSpacing;
    } else if (!image_.isNull()) {
        const QRectF box(x, middle - imageSide_ / 2.0, imageSide_, imageSide_);
        painter.save();
        painter.setClipPath(roundedRect(box, imageRadius_));
        painter.drawPixmap(box.toRect(), image_.pixmap(QSize(imageSide_, imageSide_), devicePixelRatioF()));
        painter.restore();
        x += imageSide_ + labelSpacing;
    } else if (symbol_) {
        painter.fillPath(symbolPath(*symbol_, symbolSize_, QPointF(x + symbolSize_ / 2, middle)), ink);
        x += symbolSize_ + labelSpacing;
    }
    const QFontMetricsF metrics(font_);
    painter.fillPath(textPath(title_, font_, QPointF(x, middle + (metrics.ascent() - metrics.descent()) / 2)), ink);
}

} // namespace parlino::design
