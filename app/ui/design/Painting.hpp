#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

namespace parlino::design {

// A copy of `image` (premultiplied ARGB) blurred by three box passes that approximate a Gaussian
// of the given radius.
QImage blurredImage(const QImage& image, double radius);

// Paints a blurred copy of `shape` in `color`, moved by `offset`, below whatever is painted next:
// the soft shadows and glows of the design. Blurred shapes are cached by their form.
void paintSoftShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double radius,
    QPointF offset = {});

// The outline of `text` set in `font` with its baseline starting at `origin`. With equal digits
// every digit takes the width of the widest one, so changing numbers do not shift (monospaced digits).
QPainterPath textPath(const QString& text, const QFont& font, QPointF origin, bool equalDigits = false);
// The advance width of the same text.
double textWidth(const QString& text, const QFont& font, bool equalDigits = false);

// Fills `text` centred in `area`, with a brush (a gradient over the text's own box when
// `gradientOverText`, else over `area`).
void paintCenteredText(QPainter& painter, const QString& text, const QFont& font, const QRectF& area,
    const QBrush& brush, bool equalDigits = false);

// A rounded rectangle with continuous-looking corners.
QPainterPath roundedRect(const QRectF& rect, double radius);

} // namespace parlino::design
