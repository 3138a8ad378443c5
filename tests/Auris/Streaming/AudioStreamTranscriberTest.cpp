#include "Auris/Streaming/AudioStreamTranscriber.hpp"
#include "Auris/Streaming/StreamingFixtures.hpp"
#include "Auris/Transcription/TranscribeFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

using namespace auris;
using namespace testsupport;
using namespace std::chrono_literals;
using ::testing::Contains;

namespace {

// The components of a transcription task over the scripted decoder, with room for five segments.
struct Components {
    DecoderFixture decoderFixture;
    std::shared_ptr<FakeFeatureExtractor> mel = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder;
    std::shared_ptr<ScriptedSegmentSeeker> seeker = std::make_shared<ScriptedSegmentSeeker>();
    std::shared_ptr<TextDecoding> decoder;

    Components()
    {
        decoderFixture.script->vocabulary = timestampVocabulary;
        decoderFixture.script->sequenceLength = 32;
        decoderFixture.load(true, true);
        encoder = std::make_shared<FakeAudioEncoder>(*decoderFixture.script);
        decoder = std::shared_ptr<TextDecoding>(std::shared_ptr<void> {}, &decoderFixture.decoder);
    }
    DecoderScript& script() { return *decoderFixture.script; }
};

// Lets a test reach the steps and replace a pass's result with a scripted one.
class TestTranscriber : public AudioStreamTranscriber {
public:
    using AudioStreamTranscriber::AudioStreamTranscriber;
    using AudioStreamTranscriber::handleDecodingProgress;
    using AudioStreamTranscriber::transcribeNewAudio;

    std::deque<TranscriptionResult> scriptedResults;
    std::vector<std::size_t> passSizes;

protected:
    TranscriptionResult transcribeNewAudio(std::span<const float> samples) override
    {
        passSizes.push_back(samples.size());
        if (!scriptedResults.empty()) {
            auto result = std::move(scriptedResults.front());
            scriptedResults.pop_front();
            return result;
        }
        return AudioStreamTranscriber::transcribeNewAudio(samples);
    }
};

DecodingOptions textOnly()
{
    DecodingOptions options;
    options.skipSpecialTokens = true;
    return options;
}

struct Streaming {
    Components components;
    std::shared_ptr<ScriptedMicrophone> microphone = std::make_shared<ScriptedMicrophone>();
    std::shared_ptr<ScriptedClock> clock = std::make_shared<ScriptedClock>();
    StateLog states;
    std::shared_ptr<TestTranscriber> transcriber;

    explicit Streaming(DecodingOptions options = textOnly(), int compressionCheckWindow = 60)
    {
        transcriber = std::make_shared<TestTranscriber>(components.encoder, components.mel, components.seeker,
            components.decoder, components.decoderFixture.decoder.tokenizer(), microphone, options, 2, 0.3f,
            compressionCheckWindow, true, states.callback(), clock);
        clock->whenDone = [this] {
            ADD_FAILURE() << "the loop went on past the scripted steps";
            transcriber->stopStreamTranscription();
        };
    }
};

TranscriptionSegment segment(float start, float end, std::string text)
{
    TranscriptionSegment made;
    made.start = start;
    made.end = end;
    made.text = std::move(text);
    return made;
}

std::vector<std::string> texts(const std::vector<TranscriptionSegment>& segments)
{
    std::vector<std::string> found;
    for (const auto& each : segments) {
        found.push_back(each.text);
    }
    return found;
}

std::vector<int> fiveSegments()
{
    return {ids::space, ids::a, timestamp(1), timestamp(1), ids::space, ids::b, timestamp(2), timestamp(2), ids::space,
        ids::c, timestamp(3), timestamp(3), ids::space, ids::d, timestamp(4), timestamp(4), ids::space, ids::e, timestamp(5)};
}

} // namespace

TEST(AudioStreamTranscriber, WaitsForSpeechConfirmsAllButTheLastSegmentsAndStopsOnRequest)
{
    CapturedLog log(Logging::LogLevel::debug);
    Streaming setup;
    scriptAttempts(setup.components.script(), [](int attempt) {
        if (attempt == 0) {
            return fiveSegments();
        }
        return std::vector<int> {ids::space, ids::d, timestamp(1), timestamp(1), ids::space, ids::e, timestamp(2),
            timestamp(2), ids::space, ids::a, timestamp(4)};
    });
    auto& mic = *setup.microphone;
    auto& transcriber = *setup.transcriber;
    setup.clock->steps = {
        [&] { mic.add(3.0, 0.0f); },
        [&] { mic.add(2.0, 0.9f); },
        [&] { mic.add(2.0, 0.9f); },
        [&] {
            mic.add(1.5, 0.9f);
            // Its first segment ends before the confirmed text does.
            TranscriptionResult revised;
            revised.segments = {segment(2, 3.5f, " x"), segment(3.5f, 5, " y"), segment(5, 6, " z")};
            transcriber.scriptedResults.push_back(revised);
        },
        [&] { transcriber.stopStreamTranscription(); },
    };

    transcriber.startStreamTranscription();

    // Too little audio, then only silence, gave no pass; then one pass per stretch of speech.
    EXPECT_EQ(transcriber.passSizes, (std::vector<std::size_t> {80000, 112000, 136000}));
    EXPECT_EQ(setup.clock->sleeps, 5);
    EXPECT_THAT(setup.clock->durations, ::testing::Each(100ms));
    EXPECT_THAT(log.lines(), Contains("No voice detected, skipping transcribe"));
    // The second pass decoded from the end of the confirmed text.
    EXPECT_EQ(setup.components.seeker->seeks, (std::vector<int> {0, 48000}));

    const auto state = setup.states.last();
    EXPECT_FALSE(state.isRecording);
    EXPECT_EQ(texts(state.confirmedSegments), (std::vector<std::string> {" a", " b", " c", " d"}));
    EXPECT_FLOAT_EQ(state.confirmedSegments[3].start, 3);
    EXPECT_FLOAT_EQ(state.confirmedSegments[3].end, 4);
    EXPECT_FLOAT_EQ(state.lastConfirmedSegmentEndSeconds, 4);
    EXPECT_EQ(texts(state.unconfirmedSegments), (std::vector<std::string> {" y", " z"}));
    EXPECT_EQ(state.lastBufferSize, 136000);
    EXPECT_FALSE(setup.microphone->isRecording());
    // Each idle pass after a transcription shows the waiting message again.
    EXPECT_EQ(setup.states.count([](const auto& before, const auto& after) {
        return before.currentText.empty() && after.currentText == AudioStreamTranscriber::waitingForSpeech;
    }), 4u);
    // Buffers reached the state as the microphone's energies.
    EXPECT_EQ(state.bufferEnergy.size(), 85u);
    EXPECT_THAT(log.lines(), Contains("Realtime transcription has ended"));
    EXPECT_THAT(log.lines(), Contains("Realtime transcription has started"));
}
