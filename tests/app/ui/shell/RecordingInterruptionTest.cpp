#include "app/ui/support/UiTestFixture.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/recorder/RecorderFakes.hpp"
#include "app/recorder/WhisperRecorder.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"

#include "platform/audio/FakeAudioCapture.hpp"
#include "support/FullDiskOutput.hpp"

#include <QApplication>
#include <QMessageBox>

#include <atomic>

using namespace parlino;
using namespace uitest;

namespace {

// A microphone whose first audio reaches the recorder inside the start, before the start returns.
class EagerMicrophone final : public platform::AudioCaptureSource {
public:
    std::vector<platform::AudioInputDevice> inputDevices() override { return {{1, "mic", "Microphone", true, {16000, 1}}}; }
    platform::AudioCaptureFormat start(const platform::AudioCaptureRequest&, BlockCallback onBlock, FailureCallback) override
    {
        capturing = true;
        ++starts;
        onBlock({{16000, 1}, platform::FakeAudioCapture::tone({16000, 1}, 440, 5 * 16000)});
        return {16000, 1};
    }
    void pause() override {}
    void resume() override {}
    void stop() override { capturing = false; }
    bool isCapturing() const override { return capturing; }

    std::atomic<bool> capturing = false;
    std::atomic<int> starts = 0;
};

} // namespace

// The disk fills before the start has been told: the recording ends all the same, one alert says
// what happened, and what reached the disk is saved.
TEST_F(UiTest, AWriteFailureBeforeTheStartIsToldEndsTheRecordingAndKeepsItsAudio)
{
    auto microphone = std::make_shared<EagerMicrophone>();
    auto transcriber = std::make_shared<testsupport::ScriptedTranscriber>();
    WhisperRecorder::Dependencies with;
    with.captureSource = microphone;
    with.makeTranscriber = [transcriber](const TranscriberRequest&, std::stop_token) -> std::shared_ptr<SpeechTranscriber> {
        return transcriber;
    };
    with.clock = std::make_shared<testsupport::ManualRecorderClock>();
    with.folders = {folder / "Documents", folder / "cache", folder / "cache" / "tmp"};
    with.audioOutput = [](const std::filesystem::path& path) {
        return std::make_unique<testsupport::FullDiskOutput>(path, 6000);
    };
    WhisperRecorder real(*defaults, std::move(with));
    AppServices realServices {*defaults, real, *library, audioPlayer, *exportManager, globeDictation, hotkey,
        dictationHelper, clipboard, urlOpener, timer, clock};
    ASSERT_TRUE(waitFor([&] { return real.aurisReady(); }));
    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    {
        Parlino_macOS app(*defaults, clock, [&]() -> AppServices& { return realServices; });
        app.show();
        QApplication::setActiveWindow(app.window());
        QCoreApplication::processEvents();
        clock.advance(1.0);

        click(child(*app.window(), "startRecordingButton"));
        ASSERT_TRUE(waitFor([&] { return library->saveCalls == 1 && !real.isRecording(); }));
        EXPECT_EQ(microphone->starts.load(), 1);
        EXPECT_FALSE(microphone->capturing.load());
        auto* alert = child<QMessageBox>(*app.window(), "recordingProblemAlert");
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->isVisible());
        EXPECT_TRUE(alert->text().startsWith(
            QStringLiteral("Recording stopped: the audio could not be written (No space left on device). What was "
                           "recorded until then is kept in recording_")))
            << alert->text().toStdString();
        EXPECT_EQ(app.window()->findChildren<QMessageBox*>().size(), 1);

        ASSERT_EQ(library->recordings().size(), 1u);
        const Recording& kept = library->recordings().front();
        EXPECT_TRUE(alert->text().contains(QString::fromStdString(kept.audioURL.filename().string())));
        EXPECT_GT(std::filesystem::file_size(kept.audioURL), 0u);
        EXPECT_TRUE(transcriber->calls().empty());
        alert->close();
    }
}
