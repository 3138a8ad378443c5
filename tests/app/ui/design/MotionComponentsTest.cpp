#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/design/Font.hpp"
#include "app/ui/design/PNButton.hpp"
#include "app/ui/design/PNEmptyState.hpp"
#include "app/ui/design/PNFloatingParticles.hpp"
#include "app/ui/design/PNProgressRing.hpp"
#include "app/ui/design/PNRecordingPulse.hpp"
#include "app/ui/design/PNShimmerModifier.hpp"
#include "app/ui/design/PNWaveformBars.hpp"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace parlino::design;
using namespace uitest;

namespace {
class Motion : public UiTest {};
} // namespace

TEST_F(Motion, ProgressRingSweepsOnAppearThenFollowsChanges)
{
    PNProgressRing ring(clock, 0.3, 6, LinearGradient::infoGradient());
    EXPECT_DOUBLE_EQ(ring.animatedProgress(), 0); // the arc starts empty
    showAt(ring, QSize(100, 100));
    EXPECT_DOUBLE_EQ(ring.animatedProgress(), 0);
    clock.advance(0.5);
    EXPECT_GT(ring.animatedProgress(), 0.1);
    EXPECT_LT(ring.animatedProgress(), 0.3);
    clock.advance(0.51);
    EXPECT_DOUBLE_EQ(ring.animatedProgress(), 0.3);

    ring.setProgress(0.6);
    clock.advance(0.25);
    EXPECT_GT(ring.animatedProgress(), 0.3);
    EXPECT_LT(ring.animatedProgress(), 0.6);
    clock.advance(0.26);
    EXPECT_DOUBLE_EQ(ring.animatedProgress(), 0.6);
}

TEST_F(Motion, TheClockRunsOnlyWhileSomethingAnimatesOnScreen)
{
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    auto* bars = new PNWaveformBars(clock, 9, Color::accentOrange(), 35);
    layout->addWidget(bars);
    EXPECT_FALSE(clock.isRunning());
    showAt(host, QSize(200, 100));
    EXPECT_TRUE(clock.isRunning());
    host.hide();
    EXPECT_FALSE(clock.isRunning());
    EXPECT_EQ(clock.activityCount(), 0);
    host.show();
    EXPECT_TRUE(clock.isRunning());
}

TEST_F(Motion, WaveformBarsRiseOutOfPhaseFromTheirRestingHeight)
{
    PNWaveformBars bars(clock, 9, Color::accentOrange(), 35);
    EXPECT_EQ(bars.sizeHint(), QSize(9 * 4 + 8 * 3, 35));
    for (const double h : bars.barHeights()) {
        EXPECT_DOUBLE_EQ(h, 35 * 0.2);
    }
    showAt(bars, bars.sizeHint());
    // Bar i reaches its factor after 0.4 + 0.1 i s plus its delay of 0.08 i s; bar 0 first.
    clock.advance(0.4);
    const std::vector<double> heights = bars.barHeights();
    EXPECT_NEAR(heights[0], 35 * 0.6, 1e-6);
    EXPECT_LT(heights[8], 35 * 1.0);
    EXPECT_EQ(heights.size(), 9u);
    PNWaveformBars none(clock, 0, Color::accentOrange(), 35);
    EXPECT_TRUE(none.barHeights().empty());
}

TEST_F(Motion, ParticlesStartInvisibleAtTheCentreAndDrawTheSamePlacesForOneSeed)
{
    PNFloatingParticles first(clock, Color::accentOrange(), 10, 42);
    PNFloatingParticles second(clock, Color::accentOrange(), 10, 42);
    EXPECT_TRUE(first.positions().empty());
    showAt(first, QSize(400, 300));
    showAt(second, QSize(400, 300));
    ASSERT_EQ(first.positions().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        const auto& p = first.positions()[i];
        EXPECT_DOUBLE_EQ(p.x, second.positions()[i].x);
        EXPECT_GE(p.x, 0.1);
        EXPECT_LE(p.y, 0.9);
        EXPECT_GE(p.scale, 0.5);
        EXPECT_LE(p.opacity, 0.4);
        EXPECT_EQ(first.particleCenter(i), QPointF(200, 150));
        EXPECT_DOUBLE_EQ(first.particleOpacity(i), 0);
    }
    clock.advance(0.1 + 2.0);
    // Particle 0 has travelled all the way out by the end of its first 2 s pass.
    const auto& p0 = first.positions()[0];
    EXPECT_NEAR(first.particleCenter(0).x(), 400 * p0.x, 1e-6);
    EXPECT_NEAR(first.particleOpacity(0), p0.opacity, 1e-6);

    // A new appearance draws fresh places.
    const double before = first.positions()[0].x;
    first.hide();
    first.show();
    EXPECT_NE(first.positions()[0].x, before);
}

TEST_F(Motion, RecordingPulseStartsBreathingAndTurningOnAppear)
{
    PNRecordingPulse pulse(clock, 65, 160);
    EXPECT_FALSE(pulse.isPulsing());
    EXPECT_EQ(pulse.accessibleName(), QStringLiteral("Recording in progress"));
    showAt(pulse, pulse.sizeHint());
    EXPECT_TRUE(pulse.isPulsing());
    clock.advance(1.0);
    EXPECT_NEAR(pulse.rotation(), 90, 1e-6);
    clock.advance(3.0);
    EXPECT_NEAR(pulse.rotation(), 0, 1e-6); // one turn every 4 s, then again from 0
}

TEST_F(Motion, ShimmerLightsOnlyTheGlyphs)
{
    PNShimmerModifier shimmer(clock, QStringLiteral("Listening..."), Font::system(17), Color::textSecondary());
    showAt(shimmer, QSize(shimmer.sizeHint().width() + 60, 40));
    clock.advance(1.0);
    EXPECT_NEAR(shimmer.phase(), 0.75, 1e-6);
    const QImage picture = saveScreenshot(shimmer, QStringLiteral("component-shimmer"));
    // Outside the text the picture is the untouched background: no band is drawn there.
    const QColor background = picture.pixelColor(2, 2);
    EXPECT_GT(shareOfPixels(picture, QRect(0, 0, 25, 40), [&](QColor c) { return c == background; }), 0.99);
    EXPECT_LT(shareOfPixels(picture, picture.rect(), [&](QColor c) { return c == background; }), 0.98);
}

TEST_F(Motion, ButtonsDrawTheirStyleAndShrinkWhilePressed)
{
    int clicks = 0;
    PNButton danger(clock, QStringLiteral("Stop & Save"), QStringLiteral("stop.fill"), PNButton::Style::danger,
        PNButton::Size::large, false, [&] { ++clicks; });
    PNButton plain(clock, QStringLiteral("Stop & Save"), std::nullopt, PNButton::Style::danger, PNButton::Size::large,
        false, {});
    EXPECT_EQ(danger.sizeHint().height(), 52 + PNButton::shadowMargins().top() + PNButton::shadowMargins().bottom());
    EXPECT_EQ(danger.sizeHint().width() - plain.sizeHint().width(), 18 + 8); // icon and its gap
    showAt(danger, danger.sizeHint());
    const QImage resting = saveScreenshot(danger, QStringLiteral("component-button-danger"));
    EXPECT_GT(shareOfPixels(resting, danger.buttonRect(), isDangerRed), 0.6);

    QTest::mousePress(&danger, Qt::LeftButton, {}, danger.rect().center());
    clock.advance(0.5);
    const QImage pressed = danger.grab().toImage();
    // The shrunk button leaves its former corner to the background.
    const QPoint corner = danger.buttonRect().topLeft() + QPoint(6, 3);
    EXPECT_TRUE(isDangerRed(resting.pixelColor(danger.buttonRect().center())));
    EXPECT_NE(resting.pixelColor(corner), pressed.pixelColor(corner));
    QTest::mouseRelease(&danger, Qt::LeftButton, {}, danger.rect().center());
    clock.advance(0.5);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(clock.activityCount(), 0); // the press motion gave its frames back

    PNButton secondary(clock, QStringLiteral("Later"), std::nullopt, PNButton::Style::secondary,
        PNButton::Size::small, true, {});
    EXPECT_EQ(secondary.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
}

TEST_F(Motion, EmptyStateShowsItsButtonOnlyWithTitleAndAction)
{
    PNEmptyState full(clock, QStringLiteral("mic.slash"), QStringLiteral("No Recordings"),
        QStringLiteral("<b>not bold</b>"), QStringLiteral("Record"), [] {});
    PNEmptyState noAction(clock, QStringLiteral("mic.slash"), QStringLiteral("No Recordings"), QString(),
        QStringLiteral("Record"), {});
    PNEmptyState noTitle(clock, QStringLiteral("mic.slash"), QStringLiteral("No Recordings"), QString(), std::nullopt,
        [] {});
    EXPECT_NE(full.findChild<PNButton*>(), nullptr);
    EXPECT_EQ(noAction.findChild<PNButton*>(), nullptr);
    EXPECT_EQ(noTitle.findChild<PNButton*>(), nullptr);
    auto* subtitle = child<QLabel>(full, "emptyStateSubtitle");
    EXPECT_EQ(subtitle->textFormat(), Qt::PlainText);
}
