#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Streaming/AudioStreamTranscriber.hpp"
#include "Auris/Streaming/StreamingFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"
#include "Auris/support/SyntheticWhisper.hpp"
#include "platform/audio/FakeAudioCapture.hpp"

#include <gtest/gtest.h>

using namespace auris;
using namespace testsupport;

TEST(SyntheticModelStreaming, FakeMicrophoneAudioStreamsThroughTheRealPrograms)
{
    constexpr std::size_t pushes = 4;
    constexpr std::size_t pushSamples = 24000; // 1.5 s: fifteen whole capture blocks
    // A quiet start gives the loudness measure its floor; then the generated sounds.
    auto audio = generatedSoundscape(pushes * 1.5 - 0.5, 11);
    audio.insert(audio.begin(), 8000, 0.0f);
    ASSERT_EQ(audio.size(), pushes * pushSamples);

    auto capture = std::make_shared<platform::FakeAudioCapture>(
        std::vector {platform::AudioInputDevice {1, "mic", "Microphone", true, {16000, 1}}});
    auto processor = std::make_shared<AudioProcessor>(capture);
    const auto& models = SyntheticWhisper::shared();
    const auto pipeline = models.load();
    DecodingOptions options;
    options.language = "en";
    options.skipSpecialTokens = true;
    options.temperatureFallbackCount = 0;
    options.firstTokenLogProbThreshold.reset();

    // Each idle wait hands the microphone the next stretch and returns once it has been taken in;
    // the wait after the last stretch ends the stream.
    auto clock = std::make_shared<ScriptedClock>();
    std::shared_ptr<AudioStreamTranscriber> transcriber;
    for (std::size_t i = 0; i < pushes; ++i) {
        clock->steps.push_back([&, i] {
            capture->push(std::span<const float>(audio).subspan(i * pushSamples, pushSamples));
            ASSERT_TRUE(capture->waitUntilDelivered());
        });
    }
    clock->whenDone = [&] { transcriber->stopStreamTranscription(); };

    CapturedLog log(Logging::LogLevel::error);
    StateLog states;
    transcriber = std::make_shared<AudioStreamTranscriber>(pipeline.audioEncoder, pipeline.featureExtractor,
        std::make_shared<SegmentSeeker>(), pipeline.textDecoder, models.tokenizer(), processor, options, 2, 0.3f, 60,
        true,
        states.callback(), clock);
    transcriber->startStreamTranscription();

    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    EXPECT_EQ(clock->sleeps, static_cast<int>(pushes) + 1) << "every pass ended well";
    EXPECT_EQ(capture->startCount(), 1);
    EXPECT_FALSE(capture->isCapturing());

    // Every stretch was transcribed as soon as it arrived, the decoder's text followed along, and
    // the confirmed and unconfirmed segments hold text only.
    EXPECT_EQ(states.count([](const auto& before, const auto& after) {
        return before.lastBufferSize != after.lastBufferSize;
    }),
        pushes);
    EXPECT_GT(states.count([](const auto& before, const auto& after) {
        return before.currentText != after.currentText && !after.currentText.empty()
            && after.currentText != AudioStreamTranscriber::waitingForSpeech;
    }),
        0u);
    const auto state = states.last();
    EXPECT_FALSE(state.isRecording);
    EXPECT_EQ(state.lastBufferSize, static_cast<int>(audio.size()));
    EXPECT_EQ(state.bufferEnergy.size(), audio.size() / 1600);
    EXPECT_EQ(processor->audioSamples(), audio);
    EXPECT_LE(state.unconfirmedSegments.size(), 2u);
    EXPECT_FALSE(state.confirmedSegments.empty() && state.unconfirmedSegments.empty());
    for (const auto* segments : {&state.confirmedSegments, &state.unconfirmedSegments}) {
        for (const auto& segment : *segments) {
            EXPECT_EQ(segment.text.find("<|"), std::string::npos) << segment.text;
        }
    }
    if (!state.confirmedSegments.empty()) {
        EXPECT_FLOAT_EQ(state.lastConfirmedSegmentEndSeconds, state.confirmedSegments.back().end);
    }
}
