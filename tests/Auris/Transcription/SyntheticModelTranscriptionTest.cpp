#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Engine/Auris.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"
#include "Auris/Text/Constants.hpp"
#include "Auris/Transcription/TranscribeTask.hpp"
#include "Auris/support/SyntheticWhisper.hpp"

#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace auris;
using testsupport::SyntheticWhisper;

namespace {

constexpr int sampleRate = 16000;

// The real seeker, noting where each window began and how long it was.
class WindowLog : public SegmentSeeker {
public:
    mutable std::vector<std::pair<int, int>> windows;

    std::pair<int, std::optional<std::vector<TranscriptionSegment>>> findSeekPointAndSegments(
        const DecodingResult& result, const DecodingOptions& options, int allSegmentsCount, int currentSeek,
        int segmentSize, int rate, int timeToken, int specialToken, const WhisperTokenizer& tokenizer) const override
    {
        windows.emplace_back(currentSeek, segmentSize);
        return SegmentSeeker::findSeekPointAndSegments(
            result, options, allSegmentsCount, currentSeek, segmentSize, rate, timeToken, specialToken, tokenizer);
    }
};

DecodingOptions wordOptions()
{
    DecodingOptions options;
    options.detectLanguage = true;
    options.skipSpecialTokens = true;
    options.wordTimestamps = true;
    // Temperature 0 only: draws at higher temperatures would come from the system's random source.
    options.temperatureFallbackCount = 0;
    // A random model is never sure of its first token; let every window run its loop.
    options.firstTokenLogProbThreshold.reset();
    return options;
}

bool holdsControlText(const std::string& text) { return text.find("<|") != std::string::npos; }

// Transcribes the samples with the synthetic models and checks what any model must give.
void expectSoundTranscription(const std::vector<float>& audio)
{
    const auto& models = SyntheticWhisper::shared();
    const auto pipeline = models.load();
    const auto seeker = std::make_shared<WindowLog>();
    TranscribeTask task(TranscriptionTimings {}, nullptr, pipeline.audioEncoder, pipeline.featureExtractor, seeker,
        pipeline.textDecoder, models.tokenizer());
    const auto result = task.runTranscription(audio, wordOptions());
    const int sampleCount = static_cast<int>(audio.size());
    const int specialBegin = models.tokenizer()->specialTokens().specialTokenBegin;

    // Windows only move forward, skip no audio and reach the end.
    const auto& windows = seeker->windows;
    ASSERT_GE(windows.size(), 2u);
    EXPECT_EQ(windows.front().first, 0);
    for (std::size_t i = 1; i < windows.size(); ++i) {
        EXPECT_GT(windows[i].first, windows[i - 1].first);
        EXPECT_LE(windows[i].first, windows[i - 1].first + windows[i - 1].second);
    }
    for (const auto& [seek, size] : windows) {
        EXPECT_EQ(size, std::min(AudioProcessing::windowSamples, sampleCount - seek));
    }
    EXPECT_GE(windows.back().first + windows.back().second, sampleCount - TranscribeTask::clipEndMargin);

    const auto count = static_cast<double>(windows.size());
    const auto& timings = result.timings;
    EXPECT_DOUBLE_EQ(timings.inputAudioSeconds, static_cast<double>(sampleCount) / sampleRate);
    EXPECT_DOUBLE_EQ(timings.totalAudioProcessingRuns, count);
    EXPECT_DOUBLE_EQ(timings.totalLogmelRuns, count);
    EXPECT_DOUBLE_EQ(timings.totalEncodingRuns, count);
    EXPECT_GE(timings.totalDecodingLoops, count);
    EXPECT_GT(timings.logmels, 0);
    EXPECT_GT(timings.encoding, 0);
    EXPECT_GT(timings.decodingPredictions, 0);
    EXPECT_GT(timings.decodingLoop, 0);
    EXPECT_GT(timings.fullPipeline, 0);
    EXPECT_LT(timings.firstTokenTime, std::numeric_limits<double>::max());
    EXPECT_DOUBLE_EQ(timings.totalDecodingFallbacks, 0);
    EXPECT_EQ(task.progress()->completedUnitCount(), sampleCount);

    EXPECT_TRUE(Constants::languageCodes().contains(result.language)) << result.language;
    EXPECT_FALSE(holdsControlText(result.text)) << result.text;
    ASSERT_FALSE(result.segments.empty());
    EXPECT_DOUBLE_EQ(timings.totalTimestampAlignmentRuns, count);
    EXPECT_TRUE(std::any_of(result.segments.begin(), result.segments.end(),
        [](const TranscriptionSegment& segment) { return segment.words && !segment.words->empty(); }));
    // Segment times are left as the model wrote them (an untrained one may write timestamps that go
    // back), but a segment never starts before its window, and its words run forward.
    int previousSeek = 0;
    for (std::size_t i = 0; i < result.segments.size(); ++i) {
        const auto& segment = result.segments[i];
        SCOPED_TRACE("segment " + std::to_string(i) + ": " + segment.text);
        EXPECT_EQ(segment.id, static_cast<int>(i));
        EXPECT_TRUE(
            std::any_of(windows.begin(), windows.end(), [&](const auto& w) { return w.first == segment.seek; }));
        EXPECT_GE(segment.seek, previousSeek);
        previousSeek = segment.seek;
        EXPECT_GE(segment.start, static_cast<float>(segment.seek) / sampleRate - 0.01f);
        EXPECT_FALSE(holdsControlText(segment.text));
        ASSERT_TRUE(segment.words.has_value());
        for (const auto& word : *segment.words) {
            EXPECT_LE(word.start, word.end) << word.word;
            EXPECT_TRUE(word.probability >= 0 && word.probability <= 1) << word.word;
            EXPECT_FALSE(holdsControlText(word.word));
            EXPECT_FALSE(word.tokens.empty());
            EXPECT_TRUE(std::all_of(
                word.tokens.begin(), word.tokens.end(), [&](int t) { return t >= 0 && t < specialBegin; }));
        }
    }
}

} // namespace

TEST(SyntheticModelTranscription, AMinuteOfTonesAndNoiseWalksForwardWithTimingsAndWords)
{
    expectSoundTranscription(testsupport::generatedSoundscape(60));
}

TEST(SyntheticModelTranscription, AMinuteOfSpeechWalksForwardWithTimingsAndWords)
{
    testsupport::TemporaryDirectory dir;
    const auto spoken = testsupport::speak(
        "Notes from the planning meeting. We agreed on the budget, moved the release by a week, and asked "
        "the design team for two more drafts of the settings window.",
        dir / "speech.wav");
    if (!spoken) {
        GTEST_SKIP() << "espeak-ng is missing: the spoken minute is not transcribed";
    }
    auto buffer = AudioProcessor::loadAudio(spoken->string());
    const auto sentence = AudioProcessor::convertBufferToArray(buffer);
    ASSERT_GT(sentence.size(), static_cast<std::size_t>(sampleRate));
    std::vector<float> audio;
    while (audio.size() < 60u * sampleRate) {
        audio.insert(audio.end(), sentence.begin(), sentence.end());
        audio.insert(audio.end(), sampleRate / 2, 0.0f);
    }
    audio.resize(60u * sampleRate);
    expectSoundTranscription(audio);
}

TEST(SyntheticModelTranscription, ALanguageTheTokenizerLacksIsTranscribedInEnglish)
{
    const auto& models = SyntheticWhisper::shared();
    const auto& tokenizer = *models.tokenizer();
    const auto special = tokenizer.specialTokens();
    // Cantonese comes with large-v3's vocabulary only; the missing token reads as the end token.
    ASSERT_FALSE(tokenizer.knownTokenId("<|yue|>"));
    ASSERT_EQ(tokenizer.convertTokenToId("<|yue|>"), special.endToken);

    const ml::ComputeUnits cpu = ml::ComputeUnits::cpuOnly;
    Auris engine(AurisConfig {
        .modelFolder = models.modelFolder().string(),
        .computeOptions = ModelComputeOptions(cpu, cpu, cpu, cpu),
        .verbose = false,
        .load = true,
        .download = false,
        .tokenizerLoader = [&models](ModelVariant, const std::optional<std::filesystem::path>&,
                               bool) { return models.tokenizer(); },
    });
    const auto transcribeIn = [&](const std::string& language) {
        DecodingOptions options;
        options.language = language;
        options.temperatureFallbackCount = 0;
        options.firstTokenLogProbThreshold.reset();
        options.noSpeechThreshold.reset();
        const auto results = engine.transcribe(testsupport::generatedSoundscape(20), options);
        EXPECT_EQ(results.size(), 1u);
        return results.empty() ? TranscriptionResult {} : results.front();
    };
    const auto english = transcribeIn("en");
    const auto cantonese = transcribeIn("yue");
    ASSERT_FALSE(english.text.empty());
    EXPECT_EQ(cantonese.text, english.text);
    ASSERT_EQ(cantonese.segments.size(), english.segments.size());
    for (std::size_t i = 0; i < english.segments.size(); ++i) {
        EXPECT_EQ(cantonese.segments[i].tokens, english.segments[i].tokens) << "segment " << i;
    }
}
