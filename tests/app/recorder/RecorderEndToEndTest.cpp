#include "RecorderHarness.hpp"

#include "app/main/ScriptedWhisperWeights.hpp"
#include "app/recorder/AurisTranscriber.hpp"
#include "app/recorder/SmartNamingEngine.hpp"
#include "Auris/Text/ProgressQueue.hpp"
#include "Auris/Text/TextDecoder.hpp"
#include "Hub/HubApi.hpp"
#include "platform/audio/AudioFile.hpp"
#include "platform/audio/MP4Duration.hpp"
#include "platform/audio/PulseAudioCapture.hpp"
#include "support/AudioFixtures.hpp"
#include "support/PulseAudioTestServer.hpp"
#include "support/ScopedEnvironment.hpp"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <set>
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

// Every window the model hears reads "<|0.00|> Hello world <|10.00|>": ten seconds of it decoded.
const std::vector<int> tenSecondsOfHelloWorld {50259, 50359, 50364, 262, 267, 50864, 50257};

// Hands progress to the decoding thread's callback at once, so no report is still queued when a
// chunk ends.
class InlineProgressQueue final : public auris::ProgressQueue {
public:
    void post(std::function<void()> workItem) override { workItem(); }
};

// The real engine, whose reports reach the recorder in the worst order chunks side by side can
// give them: all at the end of the call, the last one made first.
class ReversedProgressTranscriber final : public SpeechTranscriber {
public:
    explicit ReversedProgressTranscriber(std::shared_ptr<SpeechTranscriber> engine)
        : engine_(std::move(engine))
    {
    }

    std::vector<auris::TranscriptionResult> transcribe(const std::string& audioPath,
        const auris::DecodingOptions& decodeOptions, const ProgressCallback& callback, std::stop_token stopToken) override
    {
        auto reports = std::make_shared<Reports>();
        auto results = engine_->transcribe(audioPath, decodeOptions,
            [reports](const auris::TranscriptionProgress& progress) -> std::optional<bool> {
                std::lock_guard lock(reports->mutex);
                reports->made.push_back(progress);
                return true;
            },
            std::move(stopToken));
        std::lock_guard lock(reports->mutex);
        std::vector<auris::TranscriptionProgress> handed(reports->made.rbegin(), reports->made.rend());
        for (const auto& progress : handed) {
            callback(progress);
        }
        std::lock_guard mine(mutex_);
        handed_ = std::move(handed);
        return results;
    }

    std::vector<auris::TranscriptionProgress> handed() const
    {
        std::lock_guard lock(mutex_);
        return handed_;
    }

private:
    struct Reports {
        std::mutex mutex;
        std::vector<auris::TranscriptionProgress> made;
    };

    std::shared_ptr<SpeechTranscriber> engine_;
    mutable std::mutex mutex_;
    std::vector<auris::TranscriptionProgress> handed_;
};

} // namespace

// A private sound server whose microphone speaks an espeak-ng sentence, the real capture, the real
// engine with a synthetic model from a hub on loopback, and the system clock.
class RecorderEndToEnd : public testsupport::RecorderHarness {
protected:
    // The synthetic base model that hears ten seconds of "Hello world" in every window, served by
    // the hub and chosen in the settings; the hub stays in use while the result lives.
    testsupport::ScopedEnvironment publishHelloWorldModel(loopback::LoopbackHub& hub)
    {
        hub.start();
        ml::WhisperModelSet::write(hub.repositoryFolder(auris::Auris::defaultModelRepo) / "openai_whisper-base",
            ml::WhisperShape::smallest(), ml::MultiArrayDataType::float16,
            testsupport::scriptedWhisperWeights(ml::WhisperShape::smallest(), tenSecondsOfHelloWorld, 7));
        fixtures::writeWhisperTokenizerFolder(hub.repositoryFolder("openai/whisper-base"));
        defaults.setString("whisperModel", "base");
        return testsupport::ScopedEnvironment(hub::HubApi::endpointVariable, hub.endpoint());
    }
};

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

// A recording of three windows, in a language the model's tokenizer lacks, cut into chunks that the
// real engine decodes side by side: every window is prompted in English, and although the chunks'
// reports reach the recorder out of order, the bar only rises, to the end.
TEST_F(RecorderEndToEnd, ChunksInALanguageTheModelLacksAreEnglishAndTheirProgressOnlyRises)
{
    loopback::LoopbackHub hub(temporary / "hub");
    const testsupport::ScopedEnvironment endpoint = publishHelloWorldModel(hub);
    // Offered in Settings, but only large-v3's tokenizer has <|yue|>.
    defaults.setString(WhisperRecorder::preferredTranscriptionLanguageKey, "yue");

    std::shared_ptr<AurisTranscriber> auris;
    std::shared_ptr<ReversedProgressTranscriber> engine;
    auto with = dependencies();
    with.makeTranscriber = [&](const TranscriberRequest& request, std::stop_token stop) -> std::shared_ptr<SpeechTranscriber> {
        auto configuration = AurisTranscriber::configuration(request, std::move(stop));
        configuration.textDecoder = std::make_shared<auris::TextDecoder>(std::make_shared<InlineProgressQueue>());
        auris = std::make_shared<AurisTranscriber>(std::make_unique<auris::Auris>(std::move(configuration)));
        engine = std::make_shared<ReversedProgressTranscriber>(auris);
        return engine;
    };
    auto recorder = makeRecorder(std::move(with));
    ASSERT_TRUE(recorder->aurisReady()) << testing::PrintToString(log.lines());
    const auto tokenizer = auris->engine().tokenizer();
    ASSERT_TRUE(tokenizer);
    const auris::SpecialTokens special = tokenizer->specialTokens();
    // As with Whisper's own tokenizer, the missing token reads as the end token, not as nothing.
    ASSERT_FALSE(tokenizer->knownTokenId("<|yue|>"));
    ASSERT_EQ(tokenizer->convertTokenToId("<|yue|>"), special.endToken);

    testsupport::PublishedStates states(*recorder);
    // Fed in pieces, as a sound server would, so that none is dropped.
    ASSERT_FALSE(start(*recorder));
    for (int piece = 0; piece < 18; ++piece) {
        microphone->push(platform::FakeAudioCapture::tone({16000, 1}, 440, 5 * 16000));
        ASSERT_TRUE(microphone->waitUntilDelivered());
    }
    clock->advance(90s);
    const RecordingResult result = stop(*recorder);
    EXPECT_THAT(result.transcription.toStdString(), ::testing::StartsWith("Hello world Hello world Hello world"));

    // Reports of several chunks, handed over with their chunks and their shares mixed up; each
    // window's prompt is English and transcribe.
    const auto handed = engine->handed();
    ASSERT_FALSE(handed.empty());
    std::vector<int> chunks;
    std::vector<double> shares;
    for (const auto& progress : handed) {
        chunks.push_back(progress.windowId);
        shares.push_back(WhisperRecorder::progressFraction(progress, 90, 1));
        EXPECT_NEAR(progress.audioSecondsTotal, 90, 0.5);
        ASSERT_GE(progress.tokens.size(), 3u);
        EXPECT_EQ(std::vector<int>(progress.tokens.begin(), progress.tokens.begin() + 3),
            (std::vector<int> {special.startOfTranscriptToken, special.englishToken, special.transcribeToken}));
    }
    EXPECT_GE(std::set<int>(chunks.begin(), chunks.end()).size(), 3u);
    EXPECT_FALSE(std::is_sorted(chunks.begin(), chunks.end()));
    const double highest = *std::max_element(shares.begin(), shares.end());
    EXPECT_GT(highest, shares.back() + 0.05);

    std::vector<double> shown;
    for (const auto& event : states.events()) {
        if (event.starts_with("transcriptionProgress=")) {
            shown.push_back(std::stod(event.substr(event.find('=') + 1)));
        }
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << states.text();
    EXPECT_EQ(shown.back(), 1.0);
    // The bar stood at the most audio any report had decoded, before it reached the end.
    EXPECT_NE(std::find_if(shown.begin(), shown.end(), [&](double share) { return std::abs(share - highest) < 1e-4; }),
        shown.end())
        << states.text();
}

// Copies of a recording that broke off inside a fragment's boxes or inside its audio data: the
// real engine transcribes each, and hears as much audio as the library lists.
TEST_F(RecorderEndToEnd, ARecordingCutInsideItsAudioIsReTranscribedForAsLongAsItIsListed)
{
    loopback::LoopbackHub hub(temporary / "hub");
    const testsupport::ScopedEnvironment endpoint = publishHelloWorldModel(hub);
    auto with = dependencies();
    with.makeTranscriber = &AurisTranscriber::create;
    auto recorder = makeRecorder(std::move(with));
    ASSERT_TRUE(recorder->aurisReady()) << testing::PrintToString(log.lines());
    recorder->setAudioPreprocessingEnabled(false);

    const RecordingResult recorded = record(*recorder, 12);
    ASSERT_TRUE(recorded.audioURL);
    const std::string bytes = testsupport::readFile(*recorded.audioURL);
    std::vector<std::size_t> cuts;
    for (std::size_t box = bytes.find("moof"); box != std::string::npos; box = bytes.find("moof", box + 1)) {
        cuts.push_back(box + 24);
        cuts.push_back(bytes.find("mdat", box) + 200);
    }
    ASSERT_GE(cuts.size(), 20u);
    // Past the first ten seconds, where the model has something to say.
    cuts.erase(cuts.begin(), cuts.end() - 4);
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        const auto copy = temporary / "Documents" / "Parlino" / ("copy-" + std::to_string(cut) + ".m4a");
        testsupport::writeFile(copy, bytes.substr(0, cut));
        const std::optional<double> listed = platform::MP4Duration::read(copy);
        ASSERT_TRUE(listed);
        log.clear();
        QString text;
        std::exception_ptr failure;
        bool answered = false;
        recorder->transcribeExistingFile(copy, [&](QString transcript, std::exception_ptr error) {
            failure = error;
            text = transcript;
            answered = true;
        });
        ASSERT_TRUE(processEventsUntil([&] { return answered; }, 120s));
        EXPECT_FALSE(failure);
        EXPECT_THAT(text.toStdString(), ::testing::StartsWith("Hello world")) << testing::PrintToString(log.lines());
        const auto lines = log.lines();
        const auto heard = std::find_if(
            lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("🎵 Audio duration: "); });
        ASSERT_NE(heard, lines.end());
        EXPECT_NEAR(std::stod(heard->substr(std::string("🎵 Audio duration: ").size())), *listed, 0.1);
        EXPECT_EQ(testsupport::readFile(copy), bytes.substr(0, cut));
    }
}
