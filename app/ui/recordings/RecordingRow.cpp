#include "app/ui/recordings/RecordingRow.hpp"

#include "app/ui/design/Color.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/PNGradientIcon.hpp"
#include "app/ui/design/Painting.hpp"
#include "app/ui/design/Symbol.hpp"

#include <QLocale>
#include <QPainter>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QTextLayout>

#include <cmath>

namespace parlino {

using namespace design;

namespace {

constexpr double lineSpacing = 4;
constexpr double metadataSpacing = 8;
constexpr int previewLineCount = 2;
// More than two lines of any list width can show: a long transcript is cut before it is laid out.
constexpr qsizetype previewSourceLength = 800;

QFont titleFont()
{
    return Font::textStyle(TextStyle::headline);
}

double lineHeightOf(const QFont& font)
{
    return std::ceil(QFontMetricsF(font).height());
}

double baselineOffset(const QFont& font)
{
    return QFontMetricsF(font).ascent();
}

} // namespace

RecordingRow::RecordingRow(Recording recording)
    : recording_(std::move(recording))
{
}

QString RecordingRow::dateText(const QDateTime& date)
{
    const QLocale locale;
    static const QRegularExpression weekday(QStringLiteral("d{4}[,.]?\\s*"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    return locale.toString(date.toLocalTime().date(), format.trimmed());
}

QString RecordingRow::dateAndTimeText(const QDateTime& date)
{
    return dateText(date) + QStringLiteral(", ") + QLocale().toString(date.toLocalTime().time(), QLocale::ShortFormat);
}

QString RecordingRow::metadataText() const
{
    const QString bullet = QStringLiteral(" • ");
    return dateAndTimeText(recording_.date) + bullet + formattedDuration(recording_.duration) + bullet
        + recording_.category.rawValue();
}

QStringList RecordingRow::metadataLine(double width) const
{
    const QFont& caption = Font::captionText();
    const QStringList parts = {dateAndTimeText(recording_.date), QStringLiteral("•"),
        formattedDuration(recording_.duration), QStringLiteral("•"), recording_.category.rawValue()};
    QStringList shown;
    double left = width;
    for (const QString& part : parts) {
        if (textWidth(part, caption) <= left) {
            shown << part;
            left -= textWidth(part, caption) + metadataSpacing;
            continue;
        }
        const QString cut = QFontMetricsF(caption).elidedText(part, Qt::ElideRight, std::max(0.0, left));
        if (!cut.isEmpty()) {
            shown << cut;
        }
        break;
    }
    return shown;
}

QString RecordingRow::titleLine(double width) const
{
    const QString title = QString(recording_.title).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QFontMetricsF(titleFont()).elidedText(title, Qt::ElideRight, width);
}

QStringList RecordingRow::previewLines(double width) const
{
    if (!showsPreview() || width <= 0) {
        return {};
    }
    QString text = recording_.transcription.left(previewSourceLength).simplified();
    const QFont& font = Font::captionText();
    QTextLayout layout(text, font);
    layout.beginLayout();
    QStringList lines;
    while (lines.size() < previewLineCount) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        const QString part = text.mid(line.textStart(), line.textLength());
        if (lines.size() == previewLineCount - 1) {
            // The last line takes the rest and ends in an ellipsis when it does not fit.
            lines << QFontMetricsF(font).elidedText(text.mid(line.textStart()), Qt::ElideRight, width);
        } else {
            lines << part.trimmed();
        }
    }
    layout.endLayout();
    return lines;
}

int RecordingRow::height() const
{
    double content = lineHeightOf(titleFont()) + lineSpacing + lineHeightOf(Font::captionText());
    if (showsPreview()) {
        content += lineSpacing + previewLineCount * lineHeightOf(Font::captionText());
    } else {
        content += lineSpacing + lineHeightOf(Font::captionText());
    }
    return static_cast<int>(std::ceil(std::max(content, badgeSide) + 2 * verticalPadding));
}

void RecordingRow::paint(QPainter& painter, const QRectF& area, double scale) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(area.center());
    painter.scale(scale, scale);
    painter.translate(-area.center());

    const QRectF inner = area.adjusted(0, verticalPadding, 0, -verticalPadding);
    const QString icon = recording_.category.icon();

    // The badge: a soft brand glow behind the category's gradient symbol.
    const QPointF badgeCenter(inner.left() + badgeSide / 2, inner.center().y());
    QRadialGradient glow(badgeCenter, badgeSide / 2);
    glow.setColorAt(2.0 / (badgeSide / 2), Color::brandBlue().opacity(0.15).resolved());
    glow.setColorAt(0, Color::brandBlue().opacity(0.15).resolved());
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(badgeCenter, badgeSide / 2, badgeSide / 2);
    PNGradientIcon::paint(painter, icon, Font::textStyle(TextStyle::title2).pixelSize(),
        LinearGradient::primaryGradient(), badgeCenter);

    const double left = inner.left() + badgeSide + spacing;
    const double width = std::max(0.0, inner.right() - left);
    const QFont& caption = Font::captionText();
    const QColor secondary = Color::textSecondary().resolved();
    const double captionLine = lineHeightOf(caption);
    double blockHeight = lineHeightOf(titleFont()) + lineSpacing + captionLine;
    const QStringList preview = previewLines(width);
    if (!preview.isEmpty()) {
        blockHeight += lineSpacing + preview.size() * captionLine;
    } else if (!showsPreview()) {
        blockHeight += lineSpacing + captionLine;
    }
    double y = inner.center().y() - blockHeight / 2;

    painter.fillPath(textPath(titleLine(width), titleFont(), QPointF(left, y + baselineOffset(titleFont()))),
        Color::textPrimary().resolved());
    y += lineHeightOf(titleFont()) + lineSpacing;

    // Metadata: symbol, date, duration and category, eight points apart.
    const double symbolSize = Font::textStyle(TextStyle::caption).pixelSize();
    double x = left;
    painter.fillPath(symbolPath(icon, symbolSize, QPointF(x + symbolSize / 2, y + captionLine / 2)), secondary);
    x += symbolSize + metadataSpacing;
    painter.save();
    painter.setClipRect(QRectF(left, y, width, captionLine));
    for (const QString& part : metadataLine(std::max(0.0, left + width - x))) {
        painter.fillPath(textPath(part, caption, QPointF(x, y + baselineOffset(caption))), secondary);
        x += textWidth(part, caption) + metadataSpacing;
    }
    painter.restore();
    y += captionLine;

    if (!preview.isEmpty()) {
        y += lineSpacing;
        for (const QString& line : preview) {
            painter.fillPath(textPath(line, caption, QPointF(left, y + baselineOffset(caption))), secondary);
            y += captionLine;
        }
    } else if (!showsPreview()) {
        // Tells which recordings still wait for a transcript.
        y += lineSpacing;
        QFont italic = caption;
        italic.setItalic(true);
        const QString line = QFontMetricsF(italic).elidedText(missingTranscriptText(), Qt::ElideRight, width);
        painter.fillPath(textPath(line, italic, QPointF(left, y + baselineOffset(italic))),
            Color::warningText().resolved());
    }
    painter.restore();
}

} // namespace parlino
