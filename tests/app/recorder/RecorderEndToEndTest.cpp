#include "RecorderHarness.hpp"

#include "app/recorder/AurisTranscriber.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "Hub/HubApi.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "support/AudioFixtures.hpp"
#include "support/PulseAudioTestServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gmock/gmock.h>

#include <thread>

using namespace parlino;
using namespace std::chrono_literals;
using testsupport::processEventsUntil;

namespace {

std::vector<float> samplesOf(const std::filesystem::path& path, double& sampleRate)
{
    platform::AudioFile file(path);
    sampleRate = file.processingFormat().sampleRate;
    auto buffer = platform::PCMBuffer::make(file.processingFormat(), static_cast<std::uint32_t>(file.length()));
    file.read(*buffer, static_cast<std::uint32_t>(file.length()));
    return testsupport::channelSamples(*buffer);
}

} // namespace

// A private sound server whose microphone speaks an espeak-ng sentence, the real capture, the real
// engine with a synthetic model from a hub on loopback, and the system clock.
class RecorderEndToEnd : public testsupport::RecorderHarness {};

TEST_F(RecorderEndToEnd, RecordsSpeechFromTheSoundServerIntoANamedAACFile)
{
    const auto speechFile = testsupport::speak("Title: Weekly sync. We talked about the budget.", temporary / "speech.wav");
    if (!speechFile) {
        GTEST_SKIP() << "espeak-ng is not available to generate speech";
    }
    double speechRate = 0;
    const std::vector<float> speech = samplesOf(*speechFile, speechRate);
    std::string whyNot;
    testsupport::PulseAudioTestServer::Options options;
    options.sampleRate = static_cast<std::uint32_t>(speechRate);
    options.channelCount = 1;
    auto server = testsupport::PulseAudioTestServer::start(whyNot, options);
    if (!server) {
        GTEST_SKIP() << "no PulseAudio server could be started: " << whyNot;
    }

    loopback::LoopbackHub hub(temporary / "hub");
    hub.start();
    testsupport::publishSmallestModel(hub, "openai_whisper-base");
    testsupport::ScopedEnvironment endpoint(hub::HubApi::endpointVariable, hub.endpoint());
    defaults.setString("whisperModel", "base");

    auto with = dependencies();
    with.captureSource = std::make_shared<platform::PulseAudioCapture>(
        platform::PulseAudioCaptureOptions {server->address(), "Parlino tests", 10s});
    with.makeTranscriber = &AurisTranscriber::create;
    with.clock = std::make_shared<SystemRecorderClock>();
    auto recorder = makeRecorder(std::move(with));
    ASSERT_TRUE(recorder->aurisReady()) << testing::PrintToString(log.lines());

    testsupport::PublishedStates states(*recorder);
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_FALSE(start(*recorder));
    const QDateTime after = QDateTime::currentDateTime();
    // The sentence and a short pause; the test microphone delivers exactly what it is fed.
    std::vector<float> fedAudio = speech;
    fedAudio.resize(speech.size() + static_cast<std::size_t>(speechRate / 2), 0.0f);
    const double fedSeconds = static_cast<double>(fedAudio.size()) / speechRate;
    std::atomic<bool> fed = false;
    std::thread feeder([&] {
        server->feed(fedAudio, 30s);
        fed = true;
    });
    const bool heard = processEventsUntil([&] { return fed && recorder->recordingDuration() >= fedSeconds + 0.5; }, 60s);
    feeder.join();
    ASSERT_TRUE(heard) << server->log();
    const RecordingResult result = stop(*recorder);

    ASSERT_TRUE(result.audioURL);
    ASSERT_TRUE(result.generatedTitle);
    EXPECT_EQ(*result.generatedTitle, SmartNamingEngine::generateTitle(result.transcription));
    const std::string name = result.audioURL->filename().string();
    EXPECT_TRUE(name == SmartNamingEngine::makeFileName(*result.generatedTitle, before).toStdString()
        || name == SmartNamingEngine::makeFileName(*result.generatedTitle, after).toStdString())
        << name;
    const platform::AudioFile file(*result.audioURL);
    EXPECT_EQ(file.processingFormat(), (platform::AudioFormat {16000, 1}));
    // Every fed sample is in the file, and the recording lasted at least as long. The fragments
    // also hold the encoder's priming and padding frames (at most 2048).
    const double fileSeconds = static_cast<double>(file.length()) / 16000;
    EXPECT_GE(fileSeconds, fedSeconds - 0.1);
    EXPECT_LE(fileSeconds, fedSeconds + 0.1 + 2048.0 / 16000);
    EXPECT_GE(result.duration, fedSeconds);

    EXPECT_TRUE(states.inOrder({"isRecording=true", "isRecording=false", "isTranscribing=true",
        "transcriptionProgress=0.05", "isPreprocessing=true", "preprocessingStatus=Preprocessing audio...",
        "preprocessingStatus=Preprocessing complete (", "isPreprocessing=false", "isTranscribing=false",
        "transcriptionProgress=1"}))
        << states.text();
    EXPECT_EQ(documents(), std::vector<std::string> {name});
    EXPECT_TRUE(scratchIsEmpty());
}
