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

    std::deque<TranscriptionResult> scriptedResults;
    std::vector<std::size_t> passSizes;

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

TEST(AudioStreamTranscriber, AFailedPassStopsTheRecordingAndTheTranscriberCanStartAgain)
{
    CapturedLog log(Logging::LogLevel::error);
    Streaming setup;
    scriptAttempts(setup.components.script(), [](int) {
        return std::vector<int> {ids::space, ids::a, timestamp(1), timestamp(1), ids::space, ids::b, timestamp(2)};
    });
    auto& mic = *setup.microphone;
    auto& transcriber = *setup.transcriber;
    setup.components.mel->giveNothing = true;
    setup.clock->steps = {[&] { mic.add(3, 0.9f); }};

    transcriber.startStreamTranscription();
    EXPECT_THAT(log.lines(), Contains("Error: Mel output is nil"));
    EXPECT_FALSE(mic.isRecording());
    EXPECT_FALSE(setup.states.last().isRecording);
    EXPECT_EQ(setup.states.last().lastBufferSize, 48000);

    // A start that cannot open the microphone throws and leaves the transcriber idle.
    mic.failNextStart();
    EXPECT_THROW(transcriber.startStreamTranscription(), WhisperError);
    EXPECT_FALSE(setup.states.last().isRecording);

    // The next start records afresh: the old buffer's positions are dropped with it.
    setup.components.mel->giveNothing = false;
    setup.clock->steps.push_back([&] { mic.add(3, 0.9f); });
    setup.clock->steps.push_back([&] { transcriber.stopStreamTranscription(); });
    transcriber.startStreamTranscription();
    EXPECT_EQ(mic.starts(), 2);
    EXPECT_EQ(transcriber.passSizes, (std::vector<std::size_t> {48000, 48000}));
    const auto state = setup.states.last();
    EXPECT_EQ(texts(state.unconfirmedSegments), (std::vector<std::string> {" a", " b"}));
    EXPECT_EQ(state.lastBufferSize, 48000);
    EXPECT_FALSE(mic.isRecording());

    // Starting needs the transcriber to be shared, as its callbacks hold it weakly.
    Components components;
    TestTranscriber unshared(components.encoder, components.mel, components.seeker, components.decoder,
        components.decoderFixture.decoder.tokenizer(), std::make_shared<ScriptedMicrophone>());
    EXPECT_THROW(unshared.startStreamTranscription(), std::logic_error);
}

TEST(AudioStreamTranscriber, ProgressKeepsTextReplacedWithoutFallbackAndStopsRunawayWindows)
{
    CapturedLog log(Logging::LogLevel::info);
    Streaming setup;
    auto& transcriber = *setup.transcriber;
    const auto report = [&](std::string text, double fallbacks) {
        TranscriptionProgress progress;
        progress.text = std::move(text);
        progress.timings.totalDecodingFallbacks = fallbacks;
        transcriber.handleDecodingProgress(progress);
    };
    report("a", 0);
    report("a b", 0);
    report("x", 0);
    report("ab", 0);
    report("e\xCC\x81", 0); // one character written with a combining accent
    report("", 1);
    const auto state = setup.states.last();
    EXPECT_EQ(state.unconfirmedText, (std::vector<std::string> {"a b", "ab"}));
    EXPECT_EQ(state.currentText, "");
    EXPECT_EQ(state.currentFallbacks, 1);
    EXPECT_THAT(log.lines(), Contains("Fallback occured: 1"));

    // Without a compression threshold, a window is stopped once it holds more tokens than the check
    // window; with the usual threshold, plain text runs to its end.
    const auto words = [](int) {
        return std::vector<int> {ids::space, ids::a, ids::space, ids::b, ids::space, ids::c, ids::space, ids::d,
            ids::space, ids::e, timestamp(2)};
    };
    std::vector<float> speech(3 * 16000);
    addTone(speech, 0, 3, 0.5f);
    Streaming plain;
    scriptAttempts(plain.components.script(), words);
    EXPECT_EQ(plain.transcriber->transcribeNewAudio(speech).text, "a b c d e");

    auto unbounded = textOnly();
    unbounded.compressionRatioThreshold.reset();
    Streaming checked(unbounded, 6);
    scriptAttempts(checked.components.script(), words);
    const auto stopped = checked.transcriber->transcribeNewAudio(speech).text;
    EXPECT_FALSE(stopped.empty());
    EXPECT_LT(stopped.size(), std::string("a b c d e").size());
    EXPECT_EQ(std::string("a b c d e").rfind(stopped, 0), 0u);

    // A running average log-probability under the threshold stops every attempt at once.
    auto strict = textOnly();
    strict.logProbThreshold = 0.5f;
    Streaming doubtful(strict);
    scriptAttempts(doubtful.components.script(), words);
    EXPECT_EQ(doubtful.transcriber->transcribeNewAudio(speech).text, "");
}
