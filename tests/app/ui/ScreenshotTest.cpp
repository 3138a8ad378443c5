#include "app/ui/support/UiTestFixture.hpp"

#include "app/ui/MacMainView.hpp"
#include "app/ui/MacOnboardingView.hpp"
#include "app/ui/MacRecordView.hpp"
#include "app/ui/Parlino_macOS.hpp"
#include "app/dictation/SettingsKeys.hpp"
#include "app/ui/design/PNButton.hpp"

#include <QApplication>

using namespace parlino;
using namespace uitest;

namespace {

class ScreensLook : public UiTest {};

} // namespace

TEST_F(ScreensLook, EveryRecordScreenIsAFinishedPicture)
{
    Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return services(); });
    app.show();
    QCoreApplication::processEvents();
    clock.advance(1.0);
    const QImage onboarding = saveScreenshot(*app.window(), QStringLiteral("onboarding"));
    EXPECT_EQ(onboarding.size(), QSize(500, 400));
    EXPECT_GT(distinctColours(onboarding), 20);

    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    ASSERT_NE(app.mainView(), nullptr);
    QCoreApplication::processEvents();
    clock.advance(1.5);
    const QImage ready = saveScreenshot(*app.window(), QStringLiteral("ready"));
    EXPECT_GT(distinctColours(ready), 40);
    auto* start = child<design::PNButton>(*app.window(), "startRecordingButton");
    const QRect startArea(start->mapTo(app.window(), start->buttonRect().topLeft()), start->buttonRect().size());
    EXPECT_GT(shareOfPixels(ready, startArea, isBrandBlue), 0.5);

    click(start);
    ASSERT_TRUE(waitFor([&] { return recorder->isRecording(); }));
    recorder->setRecordingDuration(65.9);
    clock.advance(1.5);
    const QImage recording = saveScreenshot(*app.window(), QStringLiteral("recording"));
    auto* stop = child<design::PNButton>(*app.window(), "stopRecordingButton");
    const QRect stopArea(stop->mapTo(app.window(), stop->buttonRect().topLeft()), stop->buttonRect().size());
    EXPECT_GT(shareOfPixels(recording, stopArea, isDangerRed), 0.5);

    recorder->setTranscription(QStringLiteral(
        "Tomorrow at nine we meet the design team to review the new onboarding flow, then we write up the "
        "notes & decisions for everyone who could not join."));
    clock.advance(0.5);
    saveScreenshot(*app.window(), QStringLiteral("recording-live"));

    click(stop);
    recorder->publishPreprocessing(QStringLiteral("Resampling to 16 kHz, high-pass 80 Hz, normalising to -3 dB"));
    clock.advance(1.2);
    saveScreenshot(*app.window(), QStringLiteral("preprocessing"));
    recorder->publishTranscribing(0.37, QStringLiteral("~4s remaining"));
    clock.advance(1.2);
    saveScreenshot(*app.window(), QStringLiteral("transcribing"));

    recorder->setIsInitializingAuris(true);
    recorder->setAurisInitProgress(0.42);
    recorder->finishStop(RecordingResult{});
    app.mainView()->setSelectedView(MacMainView::MainViewSelection::record);
    clock.advance(1.5);
    saveScreenshot(*app.window(), QStringLiteral("ready-downloading"));
}
