#pragma once

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QStringView>

#include <optional>

namespace parlino::design {

// The design names its symbols by SF Symbol names; each is drawn with a glyph of the Material
// Icons font, optionally knocked out of a filled container (the ".circle.fill" and shield forms).
struct SymbolGlyph {
    enum class Container { none, circle, shield };

    char16_t glyph = 0;
    Container container = Container::none;
};

// The glyph of a symbol name, or none for a name the table lacks.
std::optional<SymbolGlyph> symbolGlyph(QStringView name);

// The symbol's outline at the visual size of a system font of `size` pixels, centred on `center`.
// An unknown name gives a small filled circle, so a gap in the table shows as a dot, not as nothing.
QPainterPath symbolPath(const QString& name, double size, QPointF center);
// The glyph that a symbol in a circle or shield leaves open, at its place in `symbolPath`, so that
// it can be filled on its own instead of showing whatever lies behind; empty for other symbols.
QPainterPath symbolCutoutPath(const QString& name, double size, QPointF center);

// The symbol in one colour, for list rows, menus and buttons of the toolkit.
QIcon symbolIcon(const QString& name, const QColor& color, int size);

} // namespace parlino::design
