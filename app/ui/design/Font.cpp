#include "app/ui/design/Font.hpp"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <array>
#include <filesystem>

namespace parlino::design {

namespace {

constexpr std::array interfaceFaces = {
    "/usr/share/fonts/opentype/inter/Inter-Light.otf",
    "/usr/share/fonts/opentype/inter/Inter-Regular.otf",
    "/usr/share/fonts/opentype/inter/Inter-Medium.otf",
    "/usr/share/fonts/opentype/inter/Inter-SemiBold.otf",
    "/usr/share/fonts/opentype/inter/Inter-Bold.otf",
    "/usr/share/fonts/opentype/inter/InterDisplay-SemiBold.otf",
    "/usr/share/fonts/opentype/inter/InterDisplay-Bold.otf",
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf",
};

struct TextStyleMetrics {
    double pixelSize;
    QFont::Weight weight;
};

TextStyleMetrics metrics(TextStyle style)
{
    switch (style) {
    case TextStyle::title: return {22, QFont::Normal};
    case TextStyle::title2: return {17, QFont::Normal};
    case TextStyle::title3: return {15, QFont::Normal};
    case TextStyle::headline: return {14, QFont::DemiBold};
    case TextStyle::subheadline: return {12, QFont::Normal};
    case TextStyle::body: return {14, QFont::Normal};
    case TextStyle::callout: return {13, QFont::Normal};
    case TextStyle::caption: return {11, QFont::Normal};
    case TextStyle::caption2: return {10, QFont::Normal};
    }
    return {14, QFont::Normal};
}

double fontScale = 1;

} // namespace

double Font::scale()
{
    return fontScale;
}

void Font::setScale(double scale)
{
    fontScale = std::clamp(scale, 0.5, 3.0);
}

double Font::desktopScale()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() / 96.0 : 1.0;
}

bool Font::loadBundledFonts()
{
    static const bool loaded = [] {
        bool all = true;
        for (const char* path : interfaceFaces) {
            if (!std::filesystem::exists(path) || QFontDatabase::addApplicationFont(QString::fromUtf8(path)) < 0) {
                all = false;
            }
        }
        return all;
    }();
    return loaded;
}

QFont Font::system(double pixelSize, QFont::Weight weight, Design design)
{
    const bool display = design == Design::rounded && weight >= QFont::DemiBold;
    QFont font(QString::fromLatin1(display ? displayFamily : interfaceFamily));
    font.setFamilies({QString::fromLatin1(display ? displayFamily : interfaceFamily),
        QString::fromLatin1(interfaceFamily), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(qMax(1, qRound(pixelSize * fontScale)));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

QFont Font::textStyle(TextStyle style)
{
    const TextStyleMetrics m = metrics(style);
    return system(m.pixelSize, m.weight);
}

QFont Font::textStyle(TextStyle style, QFont::Weight weight)
{
    return system(metrics(style).pixelSize, weight);
}

QFont Font::displayLarge()
{
    return system(32, QFont::Bold, Design::rounded);
}

QFont Font::displayMedium()
{
    return system(28, QFont::Bold, Design::rounded);
}

QFont Font::titleLarge()
{
    return system(24, QFont::DemiBold, Design::rounded);
}

QFont Font::titleMedium()
{
    return system(20, QFont::DemiBold, Design::rounded);
}

QFont Font::bodyText()
{
    return system(16, QFont::Normal);
}

QFont Font::calloutText()
{
    return system(14, QFont::Normal);
}

QFont Font::captionText()
{
    return system(11, QFont::Medium);
}

QFont Font::timerDisplay()
{
    return system(56, QFont::Light, Design::monospaced);
}

} // namespace parlino::design
