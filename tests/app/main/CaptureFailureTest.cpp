#include "ParlinoAppFixture.hpp"

#include "platform/audio/FakeAudioCapture.hpp"
#include "platform/audio/MP4Duration.hpp"

// The sound server goes away in the middle of a recording made from its microphone: the recording
// ends on screen at once with one alert that says why, and what was heard until then is saved
// and transcribed.
TEST_F(ParlinoApp, ALostSoundServerEndsTheRecordingWithOneAlertAndKeepsWhatWasHeard)
{
    platform::UserDefaults(settingsFile()).setBool("parlino_hasSeenOnboarding", true);
    reported += ",recordingProblemAlert";
    captureFromSoundServer = true;
    auto app = launch();
    ASSERT_TRUE(app);
    ASSERT_TRUE(app->waitUntil([&] {
        return app->place("startRecordingButton") && app->saw("✅ Auris initialized with model: small");
    })) << app->output();
    ASSERT_TRUE(startRecording(*app)) << app->output();
    const std::filesystem::path file = library() / app->lastAfter("📁 Audio file: ").value_or("");

    // Two seconds of a tone through the microphone, then the server dies as a crash would end it.
    const auto& format = pulse->options();
    const auto tone = platform::FakeAudioCapture::tone({format.sampleRate, format.channelCount}, 440, 2 * format.sampleRate);
    ASSERT_TRUE(pulse->feed(tone, timeout)) << pulse->log();
    ASSERT_TRUE(app->poll([&] {
        try {
            return platform::MP4Duration::read(file) >= 1.0;
        } catch (const std::exception&) {
            return false;
        }
    })) << app->output();
    pulse->kill();

    ASSERT_TRUE(app->waitUntil([&] {
        return app->saw("✅ Recording saved (category: Personal)") && app->place("recordingProblemAlert")
            && !app->place("stopRecordingButton");
    })) << app->output();
    EXPECT_TRUE(app->saw("❌ Audio recording failed")) << app->output();
    EXPECT_EQ(app->count("❌ Recording stopped: "), 1u) << app->output();
    const auto told = app->lastAfter("❌ Recording stopped: the audio input ended (The connection to the sound server was lost: ");
    ASSERT_TRUE(told) << app->output();
    EXPECT_TRUE(told->ends_with("). What was recorded until then is kept.")) << *told;
    EXPECT_EQ(app->count("⏹️ WhisperRecorder: Stopping recording..."), 1u) << app->output();

    const auto saved = parlinoapp::sidecars(library());
    ASSERT_EQ(saved.size(), 1u) << app->output();
    const auto& sidecar = saved.begin()->second;
    EXPECT_EQ(parlinoapp::field(sidecar, "transcription"), parlinoapp::dictatedText);
    EXPECT_GE(parlinoapp::audioSeconds(parlinoapp::audioOf(sidecar)), 1.0);

    EXPECT_EQ(parlinoapp::sanitizerReports(app->output()), "") << app->output();
}
