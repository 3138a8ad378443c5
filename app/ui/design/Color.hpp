#pragma once

#include <QColor>
#include <QStringView>

namespace parlino::design {

// The two appearances a colour can follow; `other` stands for any appearance that is neither and
// resolves like light.
enum class Appearance { light, dark, other };

// The appearance the application draws in now: dark when the palette's window colour is dark.
Appearance currentAppearance();

// A colour of the design system: fixed, or one that follows the light or dark appearance and is
// resolved each time it is drawn.
class Color {
public:
    Color() = default;
    Color(QColor fixed); // NOLINT(google-explicit-constructor): a fixed colour is a Color
    // Parses like a hexadecimal text scanner: "#" trimmed from both ends, leading blanks and "0x"
    // skipped, reading stops at the first non-digit, bits above 24 ignored; no digits gives black.
    explicit Color(QStringView hex);

    static Color adaptive(const Color& light, const Color& dark);

    QColor resolved(Appearance appearance) const;
    QColor resolved() const { return resolved(currentAppearance()); }
    // The same colour with its opacity multiplied by `opacity`.
    Color opacity(double opacity) const;

    static const Color& brandBlue();
    static const Color& accentOrange();
    static const Color& successGreen();
    static const Color& dangerRed();
    static const Color& warningAmber();
    static const Color& infoCyan();
    static const Color& brandViolet();
    static const Color& brandPink();
    static const Color& brandIndigo();

    static const Color& surfaceSecondary();
    static const Color& surfaceTertiary();
    static const Color& textPrimary();
    static const Color& textSecondary();
    // Warning amber for text: darker on light backgrounds, where the amber itself is too faint to read.
    static const Color& warningText();
    static const Color& glassFill();

    static const Color& white();
    static const Color& clear();

private:
    QColor light_ = Qt::black;
    QColor dark_ = Qt::black;
};

} // namespace parlino::design
