#include "app/ui/support/UiTestFixture.hpp"

#include "app/dictation/SettingsKeys.hpp"
#include "app/recorder/RecorderFakes.hpp"
#include "app/recorder/WhisperRecorder.hpp"
#include "app/ui/StatusNotice.hpp"
#include "app/ui/settings/MacSettingsView.hpp"
#include "app/ui/shell/MacReadyToRecordView.hpp"
#include "app/ui/shell/Parlino_macOS.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Hub/Repo.hpp"
#include "platform/audio/FakeAudioCapture.hpp"
#include "platform/net/NetError.hpp"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <atomic>

using namespace parlino;
using namespace uitest;

namespace {

// The engine's download failure as it throws it: its own error with the cause nested.
template <typename Cause>
[[noreturn]] void failDownload(const Cause& cause)
{
    try {
        throw cause;
    } catch (...) {
        std::throw_with_nested(auris::WhisperError::modelsUnavailable("Model not found."));
    }
}

// The real recorder behind the screens, with a scripted microphone; its engine comes from a hub
// that can be offline and has no "tiny".
class RealRecorderScreens : public UiTest {
protected:
    RealRecorderScreens()
    {
        WhisperRecorder::Dependencies with;
        with.captureSource = microphone;
        with.makeTranscriber = [this](const TranscriberRequest& request, std::stop_token) -> std::shared_ptr<SpeechTranscriber> {
            ++creations;
            if (offline) {
                failDownload(platform::NetError(platform::NetError::Code::cannotConnectToHost));
            }
            if (request.model == "tiny") {
                failDownload(hub::HubClientError::httpStatusCode(404));
            }
            return transcriber;
        };
        with.clock = recorderClock;
        with.folders = {folder / "Documents", folder / "cache", folder / "cache" / "tmp"};
        real = std::make_unique<WhisperRecorder>(*defaults, std::move(with));
        realServices = std::make_unique<AppServices>(AppServices {*defaults, *real, *library, audioPlayer, *exportManager,
            globeDictation, hotkey, dictationHelper, clipboard, urlOpener, timer, clock});
    }

    ~RealRecorderScreens() override
    {
        ready.reset();
        settings.reset();
        real.reset();
    }

    std::shared_ptr<platform::FakeAudioCapture> microphone = std::make_shared<platform::FakeAudioCapture>(
        std::vector<platform::AudioInputDevice> {{1, "mic", "Microphone", true, {48000, 2}}});
    std::shared_ptr<testsupport::ManualRecorderClock> recorderClock = std::make_shared<testsupport::ManualRecorderClock>();
    std::atomic<bool> offline = true;
    std::atomic<int> creations = 0;
    std::shared_ptr<testsupport::ScriptedTranscriber> transcriber = std::make_shared<testsupport::ScriptedTranscriber>();
    std::unique_ptr<WhisperRecorder> real;
    std::unique_ptr<AppServices> realServices;
    std::unique_ptr<MacReadyToRecordView> ready;
    std::unique_ptr<MacSettingsView> settings;
};

} // namespace

TEST_F(RealRecorderScreens, MissingModelSaysWhyUntilTryAgainLoadsIt)
{
    ready = std::make_unique<MacReadyToRecordView>(*realServices, [] {});
    showAt(*ready, {900, 760});
    settings = std::make_unique<MacSettingsView>(*realServices);
    showAt(*settings, {900, 760});
    ASSERT_TRUE(waitFor([&] { return real->modelFailure().has_value(); }));
    clock.advance(1.0);

    auto* missing = child(*ready, "modelMissingSection");
    EXPECT_TRUE(missing->isVisible());
    EXPECT_FALSE(child(*ready, "modelDownloadSection")->isVisible());
    EXPECT_EQ(child<QLabel>(*ready, "modelMissingText")->text(),
        QStringLiteral("Speech model missing: no connection to the model hub"));
    EXPECT_TRUE(child(*settings, "modelNotDownloaded")->isVisible());
    EXPECT_TRUE(child(*settings, "modelFailure")->isVisible());
    EXPECT_EQ(child<QLabel>(*settings, "modelFailure")->text(), QStringLiteral("No connection to the model hub"));
    saveScreenshot(*ready, QStringLiteral("ready-model-missing"));

    // Trying again while still offline fails again, visibly the same; online it loads.
    click(child(*ready, "retryModelButton"));
    ASSERT_TRUE(waitFor([&] { return creations == 2 && !real->isInitializingAuris() && real->modelFailure(); }));
    EXPECT_TRUE(missing->isVisible());
    offline = false;
    click(child(*ready, "retryModelButton"));
    ASSERT_TRUE(waitFor([&] { return real->aurisReady(); }));
    EXPECT_FALSE(missing->isVisible());
    EXPECT_FALSE(child(*settings, "modelFailure")->isVisible());
    EXPECT_TRUE(child(*settings, "modelReady")->isVisible());
}

TEST_F(RealRecorderScreens, FailedSwitchKeepsTheLoadedModelAndSaysWhy)
{
    offline = false;
    ASSERT_TRUE(waitFor([&] { return real->aurisReady(); }));
    settings = std::make_unique<MacSettingsView>(*realServices);
    showAt(*settings, {900, 760});
    ready = std::make_unique<MacReadyToRecordView>(*realServices, [] {});
    showAt(*ready, {900, 760});

    // Chosen in the picker: the hub has no "tiny", so "small" stays chosen and loaded.
    auto* picker = child<QComboBox>(*settings, "modelPicker");
    picker->setCurrentIndex(picker->findData(QStringLiteral("tiny")));
    emit picker->activated(picker->currentIndex());
    ASSERT_TRUE(waitFor([&] { return real->modelFailure() && !real->isInitializingAuris(); }));
    ASSERT_TRUE(waitFor([&] { return real->whisperModel() == QStringLiteral("small"); }));
    EXPECT_TRUE(real->aurisReady());
    EXPECT_EQ(picker->currentData().toString(), QStringLiteral("small"));
    EXPECT_TRUE(child(*settings, "modelReady")->isVisible());
    EXPECT_EQ(child<QLabel>(*settings, "modelFailure")->text(),
        QStringLiteral("Could not switch to tiny (~40 MB): the model hub does not have it"));
    EXPECT_FALSE(child(*ready, "modelMissingSection")->isVisible());
    EXPECT_EQ(creations, 2);
    saveScreenshot(*child(*settings, "configurationSection"), QStringLiteral("settings-model-switch-failed"));

    // Applying the model that serves says so, and the failed switch is no longer shown.
    click(child(*settings, "applyModelButton"));
    ASSERT_TRUE(waitFor([&] { return StatusNotice::of(*settings) != nullptr; }));
    EXPECT_EQ(StatusNotice::of(*settings)->message(), QStringLiteral("small (~150 MB) is ready and in use"));
    EXPECT_FALSE(real->modelFailure());
    EXPECT_FALSE(child(*settings, "modelFailure")->isVisible());

    // The kept model still transcribes a file.
    std::optional<QString> text;
    real->transcribeExistingFile(folder / "old.m4a", [&](QString transcript, std::exception_ptr) { text = transcript; });
    ASSERT_TRUE(waitFor([&] { return text.has_value(); }));
    EXPECT_EQ(*text, QStringLiteral("Hello there, this is a quick test of the recorder"));
}

TEST_F(RealRecorderScreens, TheHotkeysTranscriptReachesTheClipboardWithCopyingOffAndOurWindowInFront)
{
    offline = false;
    ASSERT_TRUE(waitFor([&] { return real->aurisReady(); }));
    defaults->setBool(QString::fromLatin1(SettingsKeys::hasSeenOnboarding), true);
    defaults->setBool(QString::fromLatin1(SettingsKeys::copyToClipboardAfterRecording), false);
    Parlino_macOS app(*defaults, clock, [this]() -> AppServices& { return *realServices; });
    app.show();
    QApplication::setActiveWindow(app.window());
    QCoreApplication::processEvents();
    clock.advance(1.0);

    hotkey.press();
    ASSERT_TRUE(waitFor([&] { return real->isRecording(); }));
    microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 16000));
    ASSERT_TRUE(microphone->waitUntilDelivered());
    recorderClock->advance(std::chrono::seconds(1));
    // The first press brought our window to the front, where no synthetic paste may go.
    ASSERT_EQ(QApplication::activeWindow(), app.window());
    hotkey.press();
    ASSERT_TRUE(waitFor([&] { return !clipboard.text().isEmpty(); }));
    EXPECT_EQ(clipboard.text(), QStringLiteral("Hello there, this is a quick test of the recorder"));
    EXPECT_TRUE(dictationHelper.pastes.empty());
    ASSERT_EQ(library->recordings().size(), 1u);
    EXPECT_EQ(library->recordings().front().transcription, clipboard.text());
}
