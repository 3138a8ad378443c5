#include "app/ui/design/Color.hpp"

#include <QGuiApplication>
#include <QPalette>

#include <cstdint>
#include <limits>

namespace parlino::design {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') {
        return u - u'0';
    }
    if (u >= u'a' && u <= u'f') {
        return u - u'a' + 10;
    }
    if (u >= u'A' && u <= u'F') {
        return u - u'A' + 10;
    }
    return -1;
}

std::uint64_t scanHex(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        i += 2;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0) {
            break;
        }
        if (value > (std::numeric_limits<std::uint64_t>::max() >> 4)) {
            overflow = true;
        }
        value = (value << 4) | static_cast<std::uint64_t>(digit);
    }
    return overflow ? std::numeric_limits<std::uint64_t>::max() : value;
}

} // namespace

Appearance currentAppearance()
{
    if (!qGuiApp) {
        return Appearance::light;
    }
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128 ? Appearance::dark : Appearance::light;
}

Color::Color(QColor fixed)
    : light_(fixed)
    , dark_(fixed)
{
}

Color::Color(QStringView hex)
{
    while (!hex.isEmpty() && hex.front() == u'#') {
        hex = hex.sliced(1);
    }
    while (!hex.isEmpty() && hex.back() == u'#') {
        hex.chop(1);
    }
    const std::uint64_t value = scanHex(hex);
    light_ = QColor::fromRgb(static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
        static_cast<int>(value & 0xFF));
    dark_ = light_;
}

Color Color::adaptive(const Color& light, const Color& dark)
{
    Color color;
    color.light_ = light.resolved(Appearance::light);
    color.dark_ = dark.resolved(Appearance::dark);
    return color;
}

QColor Color::resolved(Appearance appearance) const
{
    return appearance == Appearance::dark ? dark_ : light_;
}

Color Color::opacity(double opacity) const
{
    Color color = *this;
    color.light_.setAlphaF(static_cast<float>(light_.alphaF() * opacity));
    color.dark_.setAlphaF(static_cast<float>(dark_.alphaF() * opacity));
    return color;
}

#define PARLINO_FIXED_COLOR(name, hex)                                                                             \
    const Color& Color::name()                                                                                     \
    {                                                                                                              \
        static const Color color(QStringView(u"" hex));                                                            \
        return color;                                                                                              \
    }

PARLINO_FIXED_COLOR(brandBlue, "#2563EB")
PARLINO_FIXED_COLOR(accentOrange, "#FF6B35")
PARLINO_FIXED_COLOR(successGreen, "#10B981")
PARLINO_FIXED_COLOR(dangerRed, "#EF4444")
PARLINO_FIXED_COLOR(warningAmber, "#F59E0B")
PARLINO_FIXED_COLOR(infoCyan, "#06B6D4")
PARLINO_FIXED_COLOR(brandViolet, "#7C3AED")
PARLINO_FIXED_COLOR(brandPink, "#EC4899")
PARLINO_FIXED_COLOR(brandIndigo, "#4F46E5")

#undef PARLINO_FIXED_COLOR

#define PARLINO_ADAPTIVE_COLOR(name, lightHex, darkHex)                                                            \
    const Color& Color::name()                                                                                     \
    {                                                                                                              \
        static const Color color = adaptive(Color(QStringView(u"" lightHex)), Color(QStringView(u"" darkHex)));    \
        return color;                                                                                              \
    }

PARLINO_ADAPTIVE_COLOR(surfaceSecondary, "#F2F2F7", "#2C2C2E")
PARLINO_ADAPTIVE_COLOR(surfaceTertiary, "#E5E5EA", "#3A3A3C")
PARLINO_ADAPTIVE_COLOR(textPrimary, "#1C1C1E", "#F2F2F7")
PARLINO_ADAPTIVE_COLOR(textSecondary, "#8E8E93", "#98989D")
PARLINO_ADAPTIVE_COLOR(warningText, "#B45309", "#F59E0B")

#undef PARLINO_ADAPTIVE_COLOR

const Color& Color::glassFill()
{
    static const Color color = adaptive(white().opacity(0.5), white().opacity(0.15));
    return color;
}

const Color& Color::white()
{
    static const Color color(QColor(Qt::white));
    return color;
}

const Color& Color::clear()
{
    static const Color color(QColor(0, 0, 0, 0));
    return color;
}

} // namespace parlino::design
