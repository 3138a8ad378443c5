#include "app/ui/design/Painting.hpp"

#include <QCache>
#include <QFontMetricsF>
#include <QHashFunctions>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace parlino::design {

namespace {

// One horizontal or vertical running-sum pass over the four premultiplied channels.
void boxPass(QImage& image, int radius, bool horizontal)
{
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int window = 2 * radius + 1;
    std::vector<quint32> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        const auto pixel = [&](int i) -> quint32& {
            const int x = horizontal ? i : l;
            const int y = horizontal ? l : i;
            return reinterpret_cast<quint32*>(image.scanLine(y))[x];
        };
        for (int i = 0; i < length; ++i) {
            line[static_cast<std::size_t>(i)] = pixel(i);
        }
        int sums[4] = {0, 0, 0, 0};
        const auto add = [&](int i, int sign) {
            if (i < 0 || i >= length) {
                return;
            }
            const quint32 v = line[static_cast<std::size_t>(i)];
            for (int c = 0; c < 4; ++c) {
                sums[c] += sign * static_cast<int>((v >> (8 * c)) & 0xFF);
            }
        };
        for (int i = -radius; i < radius; ++i) {
            add(i, 1);
        }
        for (int i = 0; i < length; ++i) {
            add(i + radius, 1);
            quint32 out = 0;
            for (int c = 0; c < 4; ++c) {
                out |= static_cast<quint32>(std::clamp(sums[c] / window, 0, 255)) << (8 * c);
            }
            pixel(i) = out;
            add(i - radius, -1);
        }
    }
}

QString shapeKey(const QPainterPath& shape, const QColor& color, double radius)
{
    const QRectF box = shape.boundingRect();
    size_t hash = qHash(shape.elementCount());
    for (int i = 0; i < shape.elementCount(); ++i) {
        const QPainterPath::Element e = shape.elementAt(i);
        hash = qHashMulti(hash, std::lround((e.x - box.left()) * 10), std::lround((e.y - box.top()) * 10),
            static_cast<int>(e.type));
    }
    return QStringLiteral("%1|%2|%3|%4").arg(hash).arg(color.rgba()).arg(radius, 0, 'f', 1).arg(box.width());
}

double digitCell(const QFontMetricsF& metrics)
{
    double widest = 0;
    for (char16_t d = u'0'; d <= u'9'; ++d) {
        widest = std::max(widest, metrics.horizontalAdvance(QChar(d)));
    }
    return widest;
}

} // namespace

QImage blurredImage(const QImage& source, double radius)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int box = std::max(1, static_cast<int>(std::lround(radius / 2.0)));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(image, box, true);
        boxPass(image, box, false);
    }
    return image;
}

void paintSoftShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double radius, QPointF offset)
{
    if (color.alpha() == 0 || shape.isEmpty()) {
        return;
    }
    static QCache<QString, QImage> cache(64);
    const double scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QRectF box = shape.boundingRect();
    const double margin = std::ceil(radius * 1.5) + 2;
    const QString key = shapeKey(shape, color, radius) + QString::number(scale);
    QImage* image = cache.object(key);
    if (!image) {
        const QSize size(static_cast<int>(std::ceil((box.width() + 2 * margin) * scale)),
            static_cast<int>(std::ceil((box.height() + 2 * margin) * scale)));
        QImage raw(size, QImage::Format_ARGB32_Premultiplied);
        raw.fill(Qt::transparent);
        {
            QPainter p(&raw);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            p.translate(margin - box.left(), margin - box.top());
            p.fillPath(shape, color);
        }
        image = new QImage(blurredImage(raw, radius * scale));
        image->setDevicePixelRatio(scale);
        cache.insert(key, image);
    }
    painter.drawImage(QPointF(box.left() - margin + offset.x(), box.top() - margin + offset.y()), *image);
}

QPainterPath textPath(const QString& text, const QFont& font, QPointF origin, bool equalDigits)
{
    QPainterPath path;
    if (!equalDigits) {
        path.addText(origin, font, text);
        return path;
    }
    const QFontMetricsF metrics(font);
    const double cell = digitCell(metrics);
    double x = origin.x();
    for (const QChar c : text) {
        if (c.isDigit()) {
            const double advance = metrics.horizontalAdvance(c);
            path.addText(QPointF(x + (cell - advance) / 2, origin.y()), font, QString(c));
            x += cell;
        } else {
            path.addText(QPointF(x, origin.y()), font, QString(c));
            x += metrics.horizontalAdvance(c);
        }
    }
    return path;
}

double textWidth(const QString& text, const QFont& font, bool equalDigits)
{
    const QFontMetricsF metrics(font);
    if (!equalDigits) {
        return metrics.horizontalAdvance(text);
    }
    const double cell = digitCell(metrics);
    double width = 0;
    for (const QChar c : text) {
        width += c.isDigit() ? cell : metrics.horizontalAdvance(c);
    }
    return width;
}

void paintCenteredText(QPainter& painter, const QString& text, const QFont& font, const QRectF& area,
    const QBrush& brush, bool equalDigits)
{
    const QFontMetricsF metrics(font);
    const double width = textWidth(text, font, equalDigits);
    const QPointF origin(area.center().x() - width / 2,
        area.center().y() + (metrics.ascent() - metrics.descent()) / 2);
    painter.fillPath(textPath(text, font, origin, equalDigits), brush);
}

QPainterPath roundedRect(const QRectF& rect, double radius)
{
    QPainterPath path;
    const double r = std::min({radius, rect.width() / 2, rect.height() / 2});
    path.addRoundedRect(rect, r, r);
    return path;
}

} // namespace parlino::design
