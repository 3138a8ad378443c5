#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Features/AudioEncoder.hpp"
#include "Auris/Features/FeatureExtractor.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Streaming/AudioStreamTranscriber.hpp"
#include "Auris/Streaming/StreamingFixtures.hpp"
#include "Auris/Text/DecoderFixtures.hpp"
#include "Auris/support/LoudnessModels.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/Program.hpp"

#include "support/PulseAudioTestServer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

using namespace auris;
using namespace testsupport;
using namespace std::chrono_literals;

namespace {

// The decoder writes one segment per loud stretch of the window, its word chosen by the stretch's
// loudest second, timed by the seconds it covers.
class StretchSegmentsProgram : public ml::Program {
public:
    ml::DictionaryFeatureProvider predict(const ml::FeatureProvider& inputs) const override
    {
        std::vector<int> tokens;
        for (const auto& stretch : loudness::stretches(inputs)) {
            // Every segment after the first opens with its own start.
            if (!tokens.empty()) {
                tokens.push_back(loudness::timestampToken(stretch.start));
            }
            tokens.push_back(ids::space);
            tokens.push_back(loudness::wordFor(stretch));
            tokens.push_back(loudness::timestampToken(stretch.end));
        }
        return loudness::scriptedStep(inputs, tokens);
    }
};

struct SyntheticModels {
    TemporaryDirectory dir;
    std::shared_ptr<FeatureExtractor> featureExtractor = std::make_shared<FeatureExtractor>();
    std::shared_ptr<AudioEncoder> audioEncoder = std::make_shared<AudioEncoder>();
    std::shared_ptr<TextDecoder> textDecoder = std::make_shared<TextDecoder>(std::make_shared<InlineProgressQueue>());

    SyntheticModels()
    {
        loudness::loadFrontEnd(dir, *featureExtractor, *audioEncoder);
        textDecoder->loadModel(loudness::writeModel<StretchSegmentsProgram>(
                                   dir, TextDecoder::modelFileName, "live.stretchSegments", loudness::decoderDescription(24)),
            ml::ComputeUnits::cpuOnly, false);
        textDecoder->setTokenizer(makeSmallTokenizer());
        textDecoder->setIsModelMultilingual(true);
    }
};

// Stereo at the microphone's rate: two spoken stretches of different loudness, apart by two
// seconds of silence, so that they stay apart whatever fraction of a second capture begins late.
std::vector<float> generatedSpeech(std::uint32_t sampleRate)
{
    const auto frames = static_cast<std::size_t>(7 * sampleRate);
    std::vector<float> samples(frames * 2, 0.0f);
    const auto speak = [&](double from, double to, float amplitude, double pitch) {
        for (auto frame = static_cast<std::size_t>(from * sampleRate); frame < static_cast<std::size_t>(to * sampleRate); ++frame) {
            const auto value = static_cast<float>(amplitude * std::sin(2 * M_PI * pitch * static_cast<double>(frame) / sampleRate));
            samples[frame * 2] = value;
            samples[frame * 2 + 1] = value;
        }
    };
    speak(0.5, 2.0, 0.3f, 220);
    speak(4.0, 5.5, 0.6f, 330);
    return samples;
}

// The loop's idle waits: the first one starts feeding the microphone; each one after waits for
// the next captured buffer, and the one that finds every fed sample captured ends the stream.
class FeedingClock final : public StreamingClock {
public:
    FeedingClock(PulseAudioTestServer& server, std::vector<float> speech)
        : server_(server)
        , speech_(std::move(speech))
    {
    }
    ~FeedingClock() override
    {
        cancel_ = true;
        if (feeder_.joinable()) {
            feeder_.join();
        }
    }

    std::function<void()> onAllCaptured;
    std::function<std::size_t()> capturedSamples;
    std::size_t expectedSamples = 0;
    bool timedOut = false;

    void bufferArrived()
    {
        std::lock_guard lock(mutex_);
        ++buffers_;
        arrived_.notify_all();
    }

    void sleep(std::chrono::milliseconds) override
    {
        if (!feeder_.joinable()) {
            feeder_ = std::thread([this] { server_.feed(speech_, 30s, &cancel_); });
        }
        if (capturedSamples() + 3200 >= expectedSamples) {
            onAllCaptured();
            return;
        }
        std::unique_lock lock(mutex_);
        const auto seen = buffers_;
        if (!arrived_.wait_for(lock, 30s, [&] { return buffers_ != seen; })) {
            timedOut = true;
            lock.unlock();
            onAllCaptured();
        }
    }

private:
    PulseAudioTestServer& server_;
    std::vector<float> speech_;
    std::atomic<bool> cancel_ {false};
    std::thread feeder_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::size_t buffers_ = 0;
};

} // namespace

TEST(LiveStreaming, CapturesFromASoundServerAndStreamsThroughASyntheticModel)
{
    std::string whyNot;
    auto server = PulseAudioTestServer::start(whyNot);
    if (!server) {
        GTEST_SKIP() << "no PulseAudio server could be started: " << whyNot;
    }
    auto processor = std::make_shared<AudioProcessor>(
        std::make_shared<platform::PulseAudioCapture>(platform::PulseAudioCaptureOptions {server->address(), "Parlino tests", 10s}));
    const auto& format = server->options();
    auto clock = std::make_shared<FeedingClock>(*server, generatedSpeech(format.sampleRate));

    SyntheticModels models;
    StateLog states;
    DecodingOptions options;
    options.skipSpecialTokens = true;
    auto transcriber = std::make_shared<AudioStreamTranscriber>(models.audioEncoder, models.featureExtractor,
        std::make_shared<SegmentSeeker>(), models.textDecoder, models.textDecoder->tokenizer(), processor, options, 1,
        0.3f, 60, true,
        [&](const AudioStreamTranscriber::State& before, const AudioStreamTranscriber::State& after) {
            states.callback()(before, after);
            if (before.bufferEnergy.size() != after.bufferEnergy.size()) {
                clock->bufferArrived();
            }
        },
        clock);
    clock->expectedSamples = 7 * 16000;
    clock->capturedSamples = [&] { return processor->audioSamples().size(); };
    clock->onAllCaptured = [&] { transcriber->stopStreamTranscription(); };

    transcriber->startStreamTranscription();

    EXPECT_FALSE(clock->timedOut) << server->log();
    // The 48 kHz stereo microphone arrived as 16 kHz mono, one energy per tenth of a second.
    const auto captured = processor->audioSamples().size();
    EXPECT_NEAR(static_cast<double>(captured), 7 * 16000.0, 3200.0);
    EXPECT_NEAR(static_cast<double>(processor->relativeEnergy().size()), 70.0, 2.0);

    // The quieter first stretch was confirmed once the second one followed it.
    const auto state = states.last();
    EXPECT_FALSE(state.isRecording);
    EXPECT_EQ(texts(state.confirmedSegments), (std::vector<std::string> {" b"}));
    EXPECT_EQ(texts(state.unconfirmedSegments), (std::vector<std::string> {" c"}));
    ASSERT_EQ(state.confirmedSegments.size(), 1u);
    EXPECT_FLOAT_EQ(state.lastConfirmedSegmentEndSeconds, state.confirmedSegments[0].end);
    EXPECT_GT(state.lastBufferSize, 0);
}
