#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Transcription/TranscribeFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace auris;
using namespace testsupport;

namespace {

std::vector<int> oneWord() { return {ids::space, ids::a, timestamp(1)}; }

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST(TranscribeTask, WalksLongAudioInWindowsThatOnlyMoveForward)
{
    TaskFixture fixture;
    scriptAttempts(fixture.script(), [](int attempt) {
        if (attempt == 0) {
            return std::vector<int> {ids::space, ids::a, timestamp(5), timestamp(5), ids::space, ids::b, timestamp(29)};
        }
        return std::vector<int> {ids::space, ids::c, timestamp(10)};
    });
    std::vector<int> windowIds;
    SignpostRecording signposts;
    const auto audio = rampAudio(45 * 16000);
    const auto result = fixture.task->runTranscription(audio, DecodingOptions {}, [&](const TranscriptionProgress& progress) {
        windowIds.push_back(progress.windowId);
        return std::nullopt;
    });

    // The second window starts where the first one's last timestamp pair said, and holds the rest.
    EXPECT_EQ(fixture.seeker->seeks, (std::vector<int> {0, 464000}));
    ASSERT_EQ(fixture.mel->windows.size(), 2u);
    EXPECT_EQ(fixture.mel->windows[0].firstSample, 1.0f);
    EXPECT_EQ(fixture.mel->windows[0].nonZeroSamples, 480000u);
    EXPECT_EQ(fixture.mel->windows[1].firstSample, 464001.0f);
    EXPECT_EQ(fixture.mel->windows[1].nonZeroSamples, 256000u);

    ASSERT_EQ(result.segments.size(), 3u);
    const std::vector<std::pair<float, float>> times {{0, 5}, {5, 29}, {29, 39}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.segments[i].id, static_cast<int>(i));
        EXPECT_FLOAT_EQ(result.segments[i].start, times[i].first);
        EXPECT_FLOAT_EQ(result.segments[i].end, times[i].second);
    }
    EXPECT_EQ(result.segments[2].seek, 464000);
    // Control, language and timestamp tokens stay out of the text, which is trimmed.
    EXPECT_EQ(result.text, "a b c");
    EXPECT_EQ(result.language, "en");
    EXPECT_FALSE(result.seekTime);

    const auto& timings = fixture.task->timings();
    EXPECT_EQ(result.timings, timings);
    EXPECT_EQ(timings.totalDecodingWindows, 2);
    EXPECT_EQ(timings.totalAudioProcessingRuns, 2);
    EXPECT_EQ(timings.totalLogmelRuns, 2);
    EXPECT_EQ(timings.totalEncodingRuns, 2);
    EXPECT_EQ(timings.totalDecodingFallbacks, 0);
    EXPECT_EQ(timings.totalDecodingLoops, 8 + 4);
    EXPECT_DOUBLE_EQ(timings.inputAudioSeconds, 45.0);
    EXPECT_GT(timings.fullPipeline, 0);
    EXPECT_EQ(fixture.progress->totalUnitCount(), 720000);
    EXPECT_EQ(fixture.progress->completedUnitCount(), 720000);

    // Progress of the second window carries its number.
    ASSERT_FALSE(windowIds.empty());
    EXPECT_EQ(windowIds.front(), 0);
    EXPECT_EQ(windowIds.back(), 1);

    // The second window starts from the same prefilled state as the first.
    const auto first = fixture.firstSteps();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].inputId, ids::timeBegin);
    EXPECT_EQ(first[1].inputId, ids::timeBegin);
    EXPECT_EQ(first[0].updateMask, first[1].updateMask);
    EXPECT_EQ(first[0].paddingMask, first[1].paddingMask);
    EXPECT_EQ(std::count(first[0].paddingMask.begin(), first[0].paddingMask.end(), 0.0f), 4);

    EXPECT_EQ(signposts.names(), (std::vector<std::string> {"begin TranscribeAudio", "begin Decode", "end Decode",
                                     "begin Decode", "end Decode", "end TranscribeAudio"}));
}

TEST(TranscribeTask, ShortAudioAndShortTailsAreDecodedOnlyWhenVoiced)
{
    {
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        const auto result = fixture.task->runTranscription(std::vector<float>(16000, 0.0f));
        EXPECT_TRUE(fixture.mel->windows.empty());
        EXPECT_EQ(result.text, "");
        EXPECT_TRUE(result.segments.empty());
        EXPECT_EQ(result.language, "en");
        EXPECT_EQ(fixture.progress->totalUnitCount(), 16000);
        EXPECT_EQ(fixture.progress->completedUnitCount(), 16000);
    }
    {
        // One second of speech still gets its window.
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        std::vector<float> speech(16000, 0.0f);
        addTone(speech, 0.2, 0.8, 0.5f);
        EXPECT_EQ(fixture.task->runTranscription(speech).text, "a");
        EXPECT_EQ(fixture.mel->windows.size(), 1u);
    }
    {
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        fixture.task->runTranscription(rampAudio(16001));
        ASSERT_EQ(fixture.mel->windows.size(), 1u);
        EXPECT_EQ(fixture.mel->windows[0].nonZeroSamples, 16001u);
    }
    for (const bool voicedTail : {false, true}) {
        // The half second left after a full window.
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        std::vector<float> audio(488000, 0.0f);
        addTone(audio, 1, 2, 0.5f);
        if (voicedTail) addTone(audio, 30.1, 30.4, 0.5f);
        const auto result = fixture.task->runTranscription(audio);
        EXPECT_EQ(fixture.seeker->seeks, (voicedTail ? std::vector<int> {0, 480000} : std::vector<int> {0}));
        EXPECT_EQ(result.text, voicedTail ? "a a" : "a");
        EXPECT_EQ(fixture.progress->completedUnitCount(), 488000);
    }
}

TEST(TranscribeTask, ClipTimestampsPickTheRangesAndAreCutToTheAudio)
{
    const auto audio = rampAudio(40 * 16000);
    auto run = [&](std::vector<float> clips, int step) {
        auto fixture = std::make_unique<TaskFixture>();
        scriptAttempts(fixture->script(), [](int) { return oneWord(); });
        fixture->seeker->seekPoint = [step](int seek, int) { return seek + step; };
        DecodingOptions options;
        options.clipTimestamps = std::move(clips);
        fixture->task->runTranscription(audio, options);
        return fixture;
    };

    auto clip = run({10, 20}, 64000);
    EXPECT_EQ(clip->seeker->seeks, (std::vector<int> {160000, 224000, 288000}));
    ASSERT_EQ(clip->mel->windows.size(), 3u);
    EXPECT_EQ(clip->mel->windows[0].firstSample, 160001.0f);
    EXPECT_EQ(clip->mel->windows[0].nonZeroSamples, 160000u);
    EXPECT_EQ(clip->mel->windows[2].nonZeroSamples, 32000u);
    EXPECT_DOUBLE_EQ(clip->task->timings().inputAudioSeconds, 30.0);
    EXPECT_EQ(clip->progress->totalUnitCount(), 160000);

    // A one-second clip with sound in it is decoded; the open end runs to the end of the audio.
    auto clips = run({1, 2, 10}, 480000);
    EXPECT_EQ(clips->seeker->seeks, (std::vector<int> {16000, 160000}));
    EXPECT_EQ(clips->mel->windows[0].nonZeroSamples, 16000u);
    EXPECT_EQ(clips->progress->totalUnitCount(), 16000 + 480000);

    auto wide = run({-5, 100}, 480000);
    EXPECT_EQ(wide->seeker->seeks, (std::vector<int> {0, 480000}));
    EXPECT_DOUBLE_EQ(wide->task->timings().inputAudioSeconds, 40.0);

    auto after = run({50, 60}, 480000);
    EXPECT_TRUE(after->seeker->seeks.empty());
    EXPECT_EQ(after->progress->totalUnitCount(), 0);
    EXPECT_DOUBLE_EQ(after->task->timings().inputAudioSeconds, 0.0);
}

TEST(TranscribeTask, WindowsThatStallOrFindNothingStillMoveOnFromThePromptState)
{
    for (const int back : {0, 1000}) {
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        fixture.seeker->seekPoint = [back](int seek, int) { return seek - back; };
        const auto result = fixture.task->runTranscription(rampAudio(45 * 16000));
        EXPECT_EQ(fixture.seeker->seeks, (std::vector<int> {0, 480000}));
        EXPECT_EQ(result.segments.size(), 2u);
    }

    // A window passed over as silence adds nothing; the next one still decodes from the prompt.
    TaskFixture fixture;
    scriptAttempts(fixture.script(), [](int attempt) {
        return std::vector<int> {ids::space, attempt == 0 ? ids::a : ids::b, timestamp(1)};
    });
    fixture.seeker->silent = [](int seek) { return seek == 0; };
    const auto result = fixture.task->runTranscription(rampAudio(45 * 16000));
    EXPECT_EQ(result.text, "b");
    EXPECT_EQ(fixture.task->timings().totalDecodingWindows, 1);
    const auto first = fixture.firstSteps();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].updateMask, first[1].updateMask);
    EXPECT_EQ(first[0].paddingMask, first[1].paddingMask);
}

TEST(TranscribeTask, WordTimingsKeepSpokenZeroLengthSegmentsAndMoveTheSeek)
{
    TaskFixture fixture(true);
    scriptAttempts(fixture.script(), [](int) { return oneWord(); });
    fixture.seeker->seekPoint = [](int seek, int) { return seek; };
    fixture.seeker->words = [](std::vector<TranscriptionSegment> segments) {
        const float offset = segments.at(0).start;
        TranscriptionSegment timed = segments[0];
        timed.tokens = {ids::space, ids::a};
        timed.end = offset + 2;
        timed.words = std::vector<WordTiming> {{" a", {ids::a}, offset + 1, offset + 2, 0.5f}};
        TranscriptionSegment empty = timed;
        empty.id = timed.id + 1;
        empty.tokens = {timestamp(2.2)};
        empty.start = empty.end = offset + 2.2f;
        empty.words = std::vector<WordTiming> {};
        TranscriptionSegment collapsed = empty;
        collapsed.id = timed.id + 2;
        collapsed.tokens = {ids::space, ids::b};
        collapsed.start = collapsed.end = offset + 2.5f;
        return std::vector<TranscriptionSegment> {timed, empty, collapsed};
    };
    DecodingOptions options;
    options.wordTimestamps = true;
    CapturedLog log(Logging::LogLevel::debug);
    const auto result = fixture.task->runTranscription(rampAudio(10 * 16000), options);

    // Each window ends at its last kept segment, 2.5 s in.
    EXPECT_EQ(fixture.seeker->seeks, (std::vector<int> {0, 40000, 80000, 120000}));
    ASSERT_EQ(fixture.seeker->wordCalls.size(), 4u);
    EXPECT_EQ(fixture.seeker->wordCalls[1].seek, 40000);
    EXPECT_FLOAT_EQ(fixture.seeker->wordCalls[1].lastSpeechTimestamp, 2.5f);
    EXPECT_EQ(fixture.seeker->wordCalls[0].prepend, "\"'“¿([{-");
    EXPECT_EQ(fixture.seeker->wordCalls[0].append, "\"'.。,，!！?？:：”)]}、");
    ASSERT_EQ(result.segments.size(), 8u);
    EXPECT_EQ(result.text, "a b a b a b a b");
    // The dropped segment's number is not handed out twice.
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(result.segments[static_cast<std::size_t>(i)].id, i);
    }
    const auto lines = log.lines();
    EXPECT_TRUE(contains(lines, "Word timestamps:"));
    EXPECT_TRUE(contains(lines, "[1.00 -> 2.00] prob: 0.5, word:  a"));

    // Without alignment weights in the decoding result there is no word step.
    TaskFixture plain(false);
    scriptAttempts(plain.script(), [](int) { return oneWord(); });
    plain.seeker->words = fixture.seeker->words;
    const auto plainResult = plain.task->runTranscription(rampAudio(10 * 16000), options);
    EXPECT_TRUE(plain.seeker->wordCalls.empty());
    EXPECT_EQ(plainResult.segments.size(), 1u);
}

TEST(TranscribeTask, ListingsFollowTheEngineLogLevelNotTheCallersFlag)
{
    DecodingOptions options;
    options.skipSpecialTokens = true;
    {
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        CapturedLog log(Logging::LogLevel::debug);
        options.verbose = false;
        fixture.task->runTranscription(rampAudio(2 * 16000), options);
        const auto lines = log.lines();
        for (const std::string expected : {
                 R"(Prefill prompt: ["<|startoftranscript|>", "<|en|>", "<|transcribe|>", "<|0.00|>"])",
                 "Decoding seek clips: [(start: 0, end: 32000)]",
                 "Decoding Seek: 0 (0.00s)",
                 "Decoding Window Size: 32000 (2.00s)",
                 "Decoding 0.00s - 2.00s",
                 "Decoding with temperatures [0.0, 0.2, 0.4, 0.6, 0.8, 1.0]",
                 "Decoding Temperature: 0.0",
                 "Segments for window:",
                 "[0.00 --> 1.00]  a",
             }) {
            EXPECT_TRUE(contains(lines, expected)) << expected;
        }
    }
    {
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        CapturedLog log(Logging::LogLevel::none);
        options.verbose = true;
        fixture.task->runTranscription(rampAudio(2 * 16000), options);
        EXPECT_TRUE(log.lines().empty());
    }
}

TEST(TranscribeTask, AFalseAnswerEndsTheWindowAndTheLoopGoesOn)
{
    TaskFixture fixture;
    scriptAttempts(fixture.script(), [](int) {
        return std::vector<int> {ids::space, ids::a, ids::space, ids::b, timestamp(3)};
    });
    std::vector<int> windowIds;
    const auto result = fixture.task->runTranscription(rampAudio(45 * 16000), std::nullopt,
        [&](const TranscriptionProgress& progress) {
            windowIds.push_back(progress.windowId);
            return false;
        });
    EXPECT_EQ(windowIds, (std::vector<int> {0, 1}));
    EXPECT_EQ(fixture.script().recorded().size(), 2u);
    EXPECT_EQ(result.segments.size(), 2u);
}

TEST(TranscribeTask, CancellationAtEachCheckStopsTheRunAndClosesItsIntervals)
{
    for (int stage = 0; stage < 4; ++stage) {
        SCOPED_TRACE(stage);
        TaskFixture fixture;
        scriptAttempts(fixture.script(), [](int) { return oneWord(); });
        std::stop_source stop;
        auto cancel = [&] { stop.request_stop(); };
        TextDecoding::ProgressCallback callback;
        switch (stage) {
        case 0: fixture.seeker->onSeek = cancel; break; // seen before the next window's mel model
        case 1: fixture.mel->onRun = cancel; break;     // before the encoder
        case 2: fixture.encoder->onRun = cancel; break; // before the decode
        case 3:                                         // inside the decode, by the decoder's own check
            callback = [&](const TranscriptionProgress&) {
                cancel();
                return std::nullopt;
            };
            break;
        }
        SignpostRecording signposts;
        EXPECT_THROW(fixture.task->runTranscription(rampAudio(45 * 16000), std::nullopt, callback, stop.get_token()),
            CancellationError);
        EXPECT_EQ(signposts.open(), 0);
        const auto names = signposts.names();
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.front(), "begin TranscribeAudio");
        EXPECT_EQ(names.back(), "end TranscribeAudio");
        EXPECT_EQ(fixture.mel->windows.size(), 1u);
        EXPECT_EQ(fixture.encoder->runs, stage == 1 ? 0 : 1);
        EXPECT_EQ(fixture.script().recorded().empty(), stage == 1 || stage == 2);
    }
}

TEST(TranscribeTask, FailuresCarryTheirMessagesAndKeepFinishedTimings)
{
    auto expectFailure = [](TaskFixture& fixture, WhisperError::Kind kind, const std::string& message,
                             const DecodingOptions& options = {}) {
        SignpostRecording signposts;
        try {
            fixture.task->runTranscription(rampAudio(32000), options);
            ADD_FAILURE() << "expected " << message;
        } catch (const WhisperError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_EQ(error.message(), message);
        }
        EXPECT_EQ(signposts.open(), 0);
    };
    {
        TaskFixture fixture;
        fixture.mel->giveNothing = true;
        expectFailure(fixture, WhisperError::Kind::transcriptionFailed, "Mel output is nil");
        EXPECT_EQ(fixture.task->timings().totalAudioProcessingRuns, 1);
        EXPECT_EQ(fixture.task->timings().totalLogmelRuns, 0);
    }
    {
        TaskFixture fixture;
        fixture.encoder->giveNothing = true;
        expectFailure(fixture, WhisperError::Kind::transcriptionFailed, "Encoder output is nil");
        EXPECT_EQ(fixture.task->timings().totalLogmelRuns, 1);
    }
    {
        TaskFixture fixture;
        DecodingOptions options;
        options.temperatureFallbackCount = -1;
        expectFailure(fixture, WhisperError::Kind::decodingFailed,
            "Decoding failed: temperatureFallbackCount must not be negative", options);
        EXPECT_TRUE(fixture.mel->windows.empty());
    }
}
