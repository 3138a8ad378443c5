#include "app/ui/design/Animation.hpp"
#include "app/ui/design/Color.hpp"
#include "app/ui/design/DurationFormatting.hpp"
#include "app/ui/design/Font.hpp"
#include "app/ui/design/LinearGradient.hpp"
#include "app/ui/design/Symbol.hpp"

#include "app/recorder/RecordingCategory.hpp"

#include <QFontInfo>
#include <QRawFont>

#include <gtest/gtest.h>

#include <cmath>

using namespace parlino::design;

namespace {
QString rgba(const QColor& colour)
{
    return colour.name(QColor::HexArgb);
}
} // namespace

TEST(DesignTokens, HexColoursReadLikeATextScanner)
{
    const QColor blue = QColor(0x25, 0x63, 0xEB);
    for (const char16_t* text : {u"#2563EB", u"2563EB", u"##2563EB##", u"  0x2563EB", u"#2563EBzz"}) {
        EXPECT_EQ(rgba(Color(QStringView(text)).resolved(Appearance::light)), rgba(blue)) << QString::fromUtf16(text).toStdString();
    }
    for (const char16_t* text : {u"", u"#", u"violet", u"#-12"}) {
        EXPECT_EQ(rgba(Color(QStringView(text)).resolved(Appearance::light)), QStringLiteral("#ff000000"));
    }
    // Short forms are not expanded; more than six digits keep the last six; overflow is all ones.
    EXPECT_EQ(rgba(Color(QStringView(u"#FFF")).resolved(Appearance::light)), QStringLiteral("#ff000fff"));
    EXPECT_EQ(rgba(Color(QStringView(u"#AB2563EB")).resolved(Appearance::light)), rgba(blue));
    EXPECT_EQ(rgba(Color(QStringView(u"#FFFFFFFFFFFFFFFFFF")).resolved(Appearance::light)), QStringLiteral("#ffffffff"));

    EXPECT_EQ(rgba(Color::dangerRed().resolved()), QStringLiteral("#ffef4444"));
    EXPECT_EQ(rgba(Color::brandIndigo().resolved()), QStringLiteral("#ff4f46e5"));
}

TEST(DesignTokens, AdaptiveColoursFollowTheAppearance)
{
    EXPECT_EQ(rgba(Color::textPrimary().resolved(Appearance::dark)), QStringLiteral("#fff2f2f7"));
    EXPECT_EQ(rgba(Color::textPrimary().resolved(Appearance::light)), QStringLiteral("#ff1c1c1e"));
    EXPECT_EQ(rgba(Color::textPrimary().resolved(Appearance::other)), QStringLiteral("#ff1c1c1e"));
    EXPECT_EQ(rgba(Color::surfaceTertiary().resolved(Appearance::dark)), QStringLiteral("#ff3a3a3c"));
    EXPECT_EQ(Color::warningText().resolved(Appearance::dark), Color::warningAmber().resolved());
    // Readable as text on the light window (WCAG's 4.5:1), which the amber itself is not.
    const auto luminance = [](QColor c) {
        const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double window = luminance(QColor(0xF9, 0xF9, 0xFB));
    EXPECT_GE((window + 0.05) / (luminance(Color::warningText().resolved(Appearance::light)) + 0.05), 4.5);
    EXPECT_LT((window + 0.05) / (luminance(Color::warningAmber().resolved()) + 0.05), 4.5);
    EXPECT_NEAR(Color::glassFill().resolved(Appearance::light).alphaF(), 0.5, 0.01);
    EXPECT_NEAR(Color::glassFill().resolved(Appearance::dark).alphaF(), 0.15, 0.01);
    EXPECT_EQ(Color::glassFill().resolved(Appearance::dark).red(), 255);
}

TEST(DesignTokens, GradientsSpaceTheirColoursEvenlyFromStartToEnd)
{
    const QLinearGradient recording = LinearGradient::recordingGradient().brush(QRectF(0, 0, 200, 100), Appearance::light);
    EXPECT_EQ(recording.start(), QPointF(0, 0));
    EXPECT_EQ(recording.finalStop(), QPointF(200, 100));
    ASSERT_EQ(recording.stops().size(), 3);
    EXPECT_DOUBLE_EQ(recording.stops()[1].first, 0.5);
    EXPECT_EQ(rgba(recording.stops()[2].second), QStringLiteral("#ffec4899"));

    const QLinearGradient warm = LinearGradient::warmGradient().brush(QRectF(10, 10, 100, 40), Appearance::light);
    EXPECT_EQ(warm.start(), QPointF(10, 30));
    EXPECT_EQ(warm.finalStop(), QPointF(110, 30));

    const QLinearGradient tint = LinearGradient::backgroundTintGradient().brush(QRectF(0, 0, 1, 1), Appearance::light);
    EXPECT_NEAR(tint.stops()[1].second.alphaF(), 0.08, 0.005);
    EXPECT_EQ(rgba(LinearGradient::successGradient().brush(QRectF(0, 0, 1, 1)).stops()[0].second),
        QStringLiteral("#ff34d399"));
}

TEST(DesignTokens, FontsAreTheBundledFacesAtTheirSizes)
{
    ASSERT_TRUE(Font::loadBundledFonts()) << "fonts-inter and fonts-material-design-icons-iconfont are needed";
    EXPECT_EQ(QFontInfo(Font::bodyText()).family(), QStringLiteral("Inter"));
    EXPECT_EQ(Font::bodyText().pixelSize(), 16);
    EXPECT_EQ(Font::timerDisplay().pixelSize(), 56);
    EXPECT_EQ(Font::timerDisplay().weight(), QFont::Light);
    EXPECT_EQ(Font::displayLarge().weight(), QFont::Bold);
    EXPECT_EQ(QFontInfo(Font::displayLarge()).family(), QStringLiteral("Inter Display"));
    EXPECT_EQ(Font::captionText().pixelSize(), 11);
}

TEST(DesignTokens, EverySymbolTheScreensNameHasAGlyph)
{
    ASSERT_TRUE(Font::loadBundledFonts());
    QFont icons(QString::fromLatin1(Font::symbolFamily));
    icons.setPixelSize(24);
    const QRawFont raw = QRawFont::fromFont(icons);
    ASSERT_TRUE(raw.isValid());
    QStringList names = {"mic.circle.fill", "globe", "lock.shield.fill", "waveform.circle.fill", "list.bullet",
        "gearshape", "waveform.badge.magnifyingglass", "text.badge.checkmark", "mic.fill", "stop.fill",
        "character.cursor.ibeam", "xmark.circle.fill", "folder.fill", "tag.fill", "doc.on.clipboard", "return",
        "square.and.arrow.down", "waveform", "play.fill", "pause.circle.fill", "star.fill", "trash",
        "magnifyingglass", "heart.fill", "envelope.fill", "sparkles", "keyboard", "clock", "calendar", "mic.slash",
        "arrow.triangle.2.circlepath", "questionmark.circle", "doc.text", "folder", "brain", "chevron.up.chevron.down",
        "arrow.clockwise"};
    for (const parlino::RecordingCategory category : parlino::RecordingCategory::allCases()) {
        names << category.icon();
    }
    for (const QString& name : names) {
        const auto glyph = symbolGlyph(name);
        ASSERT_TRUE(glyph.has_value()) << name.toStdString();
        EXPECT_TRUE(raw.supportsCharacter(QChar(glyph->glyph))) << name.toStdString();
        EXPECT_FALSE(symbolPath(name, 20, QPointF(10, 10)).isEmpty()) << name.toStdString();
    }
    // A name missing from the table still draws something small where it belongs.
    EXPECT_FALSE(symbolGlyph(u"no.such.symbol").has_value());
    EXPECT_LT(symbolPath(QStringLiteral("no.such.symbol"), 20, QPointF(10, 10)).boundingRect().width(), 8);
}

TEST(DesignTokens, DurationsTruncateTowardZeroWithoutAnHoursField)
{
    const struct {
        double seconds;
        const char* compact;
        const char* padded;
    } cases[] = {
        {0, "0:00", "00:00"},
        {5.9, "0:05", "00:05"},
        {59.99, "0:59", "00:59"},
        {60, "1:00", "01:00"},
        {65.9, "1:05", "01:05"},
        {3725, "62:05", "62:05"},
        {6000, "100:00", "100:00"},
        {-75, "-1:-15", "-1:-15"},
        {-5, "0:-5", "00:-5"},
        {std::nan(""), "0:00", "00:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formattedDuration(c.seconds).toStdString(), c.compact) << c.seconds;
        EXPECT_EQ(formattedDurationPadded(c.seconds).toStdString(), c.padded) << c.seconds;
    }
    EXPECT_FALSE(formattedDuration(1e300).isEmpty());
}

TEST(DesignTokens, AnimationsEaseSpringAndRepeat)
{
    const Animation& ease = Animation::standardEaseOut();
    EXPECT_DOUBLE_EQ(ease.fraction(0), 0);
    EXPECT_GT(ease.fraction(0.15), 0.5); // ease-out is past half-way at half time
    EXPECT_DOUBLE_EQ(ease.fraction(0.3), 1);
    EXPECT_TRUE(ease.isFinished(0.3));

    const Animation& spring = Animation::smoothSpring();
    double peak = 0;
    for (double t = 0; t < 2; t += 0.01) {
        peak = std::max(peak, spring.fraction(t));
    }
    EXPECT_GT(peak, 1.0); // damping 0.75 overshoots a little
    EXPECT_LT(peak, 1.1);
    EXPECT_TRUE(spring.isFinished(spring.duration()));
    EXPECT_DOUBLE_EQ(spring.fraction(spring.duration()), 1);

    // A reversing loop goes there and back; the delay holds the start.
    const Animation& pulse = Animation::pulseLoop();
    EXPECT_NEAR(pulse.fraction(1.0), 1, 1e-6);
    EXPECT_NEAR(pulse.fraction(2.0), 0, 1e-6);
    EXPECT_FALSE(pulse.isFinished(100));
    const Animation turn = Animation::linear(4).repeatForever(false);
    EXPECT_NEAR(turn.fraction(5), 0.25, 1e-9);
    EXPECT_DOUBLE_EQ(Animation::linear(1).delay(0.5).fraction(0.4), 0);
}
