#include "app/ui/design/Symbol.hpp"

#include "app/ui/design/Font.hpp"

#include <QHash>
#include <QPainter>
#include <QPixmap>

#include <utility>

namespace parlino::design {

namespace {

using Container = SymbolGlyph::Container;

const QHash<QString, SymbolGlyph>& table()
{
    static const QHash<QString, SymbolGlyph> symbols = {
        {QStringLiteral("mic.fill"), {0xe029}},
        {QStringLiteral("mic.circle.fill"), {0xe029, Container::circle}},
        {QStringLiteral("mic.slash"), {0xe02b}},
        {QStringLiteral("stop.fill"), {0xe047}},
        {QStringLiteral("play.fill"), {0xe037}},
        {QStringLiteral("pause.circle.fill"), {0xe035}},
        {QStringLiteral("waveform"), {0xe1b8}},
        {QStringLiteral("waveform.circle.fill"), {0xe1b8, Container::circle}},
        {QStringLiteral("waveform.badge.magnifyingglass"), {0xf02f}},
        {QStringLiteral("text.badge.checkmark"), {0xe8ce}},
        {QStringLiteral("globe"), {0xe80b}},
        {QStringLiteral("lock.shield.fill"), {0xe897, Container::shield}},
        {QStringLiteral("list.bullet"), {0xe241}},
        {QStringLiteral("gearshape"), {0xe8b8}},
        {QStringLiteral("character.cursor.ibeam"), {0xe262}},
        {QStringLiteral("xmark.circle.fill"), {0xe5c9}},
        {QStringLiteral("exclamationmark.triangle.fill"), {0xe002}},
        {QStringLiteral("folder"), {0xe2c8}},
        {QStringLiteral("folder.fill"), {0xe2c7}},
        {QStringLiteral("tag.fill"), {0xe54e}},
        {QStringLiteral("briefcase.fill"), {0xe8f9}},
        {QStringLiteral("person.fill"), {0xe7fd}},
        {QStringLiteral("person.2.fill"), {0xe7fb}},
        {QStringLiteral("lightbulb.fill"), {0xe0f0}},
        {QStringLiteral("note.text"), {0xf1fc}},
        {QStringLiteral("checkmark.circle.fill"), {0xe86c}},
        {QStringLiteral("square.grid.2x2"), {0xe9b0}},
        {QStringLiteral("doc.on.clipboard"), {0xe14f}},
        {QStringLiteral("doc.text"), {0xe873}},
        {QStringLiteral("return"), {0xe31b}},
        {QStringLiteral("square.and.arrow.down"), {0xe171}},
        {QStringLiteral("star"), {0xe83a}},
        {QStringLiteral("star.fill"), {0xe838}},
        {QStringLiteral("heart.fill"), {0xe87d}},
        {QStringLiteral("heart.circle.fill"), {0xe87d, Container::circle}},
        {QStringLiteral("arrow.triangle.2.circlepath"), {0xe627}},
        {QStringLiteral("questionmark.circle"), {0xe8fd}},
        {QStringLiteral("questionmark.circle.fill"), {0xe887}},
        {QStringLiteral("envelope.fill"), {0xe0be}},
        {QStringLiteral("diamond.fill"), {0xead5}},
        {QStringLiteral("clock"), {0xe8b5}},
        {QStringLiteral("clock.fill"), {0xefd6}},
        {QStringLiteral("calendar"), {0xe935}},
        {QStringLiteral("bubble.left.fill"), {0xe0ca}},
        {QStringLiteral("brain"), {0xea4a}},
        {QStringLiteral("brain.head.profile"), {0xea4a}},
        {QStringLiteral("bolt.fill"), {0xea0b}},
        {QStringLiteral("arrow.up.circle.fill"), {0xf182}},
        {QStringLiteral("sparkles"), {0xe65f}},
        {QStringLiteral("keyboard"), {0xe312}},
        {QStringLiteral("magnifyingglass"), {0xe8b6}},
        {QStringLiteral("trash"), {0xe872}},
        {QStringLiteral("arrow.clockwise"), {0xe5d5}},
        {QStringLiteral("chevron.up.chevron.down"), {0xe5d7}},
        {QStringLiteral("exclamationmark.triangle.fill"), {0xe002}},
    };
    return symbols;
}

constexpr char16_t shieldGlyph = 0xe9e0;

// A glyph's outline at `pixelSize`, centred on `center` by its em box, which keeps the icon
// font's optical centring.
QPainterPath glyphPath(char16_t glyph, double pixelSize, QPointF center)
{
    QFont font(QString::fromLatin1(Font::symbolFamily));
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    QPainterPath path;
    path.addText(QPointF(0, 0), font, QString(QChar(glyph)));
    // The icon font draws every glyph on a square em that sits on the baseline.
    const double em = font.pixelSize();
    path.translate(center.x() - em / 2, center.y() + em / 2);
    return path;
}

} // namespace

std::optional<SymbolGlyph> symbolGlyph(QStringView name)
{
    const auto found = table().constFind(name.toString());
    if (found == table().cend()) {
        return std::nullopt;
    }
    return *found;
}

QPainterPath symbolPath(const QString& name, double size, QPointF center)
{
    const std::optional<SymbolGlyph> symbol = symbolGlyph(name);
    if (!symbol) {
        QPainterPath dot;
        dot.addEllipse(center, size * 0.15, size * 0.15);
        return dot;
    }
    switch (symbol->container) {
    case Container::none: return glyphPath(symbol->glyph, size * 1.2, center);
    case Container::circle: {
        QPainterPath path;
        path.addEllipse(center, size * 0.5, size * 0.5);
        path.addPath(symbolCutoutPath(name, size, center));
        path.setFillRule(Qt::OddEvenFill);
        return path;
    }
    case Container::shield: {
        QPainterPath path = glyphPath(shieldGlyph, size * 1.2, center);
        path.addPath(symbolCutoutPath(name, size, center));
        path.setFillRule(Qt::OddEvenFill);
        return path;
    }
    }
    return {};
}

QPainterPath symbolCutoutPath(const QString& name, double size, QPointF center)
{
    const std::optional<SymbolGlyph> symbol = symbolGlyph(name);
    if (!symbol) {
        return {};
    }
    switch (symbol->container) {
    case Container::none: return {};
    case Container::circle: return glyphPath(symbol->glyph, size * 0.62, center);
    case Container::shield: return glyphPath(symbol->glyph, size * 0.55, center + QPointF(0, -size * 0.02));
    }
    return {};
}

QIcon symbolIcon(const QString& name, const QColor& color, int size)
{
    QIcon icon;
    for (const double scale : {1.0, 2.0}) {
        QPixmap pixmap(QSize(size, size) * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(symbolPath(name, size * 0.85, QPointF(size / 2.0, size / 2.0)), color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace parlino::design
