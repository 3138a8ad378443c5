#include "Auris/Core/CancellationError.hpp"
#include "Auris/Core/WhisperError.hpp"
#include "Auris/Engine/EngineFixtures.hpp"
#include "Auris/support/CapturedLog.hpp"
#include "support/AudioFixtures.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <set>

using namespace auris;
using namespace testsupport;

namespace {

std::string messageOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    }
}

DecodingOptions withWorkers(int count)
{
    DecodingOptions options;
    options.concurrentWorkerCount = count;
    return options;
}

// Which array (by its tag) each worker thread is transcribing.
class ThreadTags {
public:
    void set(float tag)
    {
        std::lock_guard lock(mutex_);
        tags_[std::this_thread::get_id()] = tag;
    }
    float current() const
    {
        std::lock_guard lock(mutex_);
        return tags_.at(std::this_thread::get_id());
    }

private:
    mutable std::mutex mutex_;
    std::map<std::thread::id, float> tags_;
};

} // namespace

TEST(AurisTranscription, BatchesOfTheLargestWorkerCountComeBackInInputOrder)
{
    if (std::thread::hardware_concurrency() < 2) {
        GTEST_SKIP() << "needs two threads to let a later array finish first";
    }
    EngineFixture fixture;
    auto engine = fixture.engine();

    // Array 1 (tag 1) waits until array 2 (tag 2) has been decoded, so the second array of the
    // first batch finishes first.
    ThreadTags tags;
    std::mutex mutex;
    std::condition_variable placed;
    std::vector<float> finished;
    bool timedOut = false;
    fixture.mel->onWindow = [&](float tag) {
        tags.set(tag);
        if (tag == 1.0f) {
            std::unique_lock lock(mutex);
            timedOut = !placed.wait_for(lock, std::chrono::seconds(60), [&] {
                return std::find(finished.begin(), finished.end(), 2.0f) != finished.end();
            });
        }
    };
    fixture.seeker->afterSeek = [&] {
        std::lock_guard lock(mutex);
        finished.push_back(tags.current());
        placed.notify_all();
    };

    std::vector<std::vector<float>> arrays;
    for (int i = 0; i < 5; ++i) {
        arrays.push_back(taggedAudio(static_cast<float>(i + 1), 2 + i));
    }
    const std::vector<std::optional<DecodingOptions>> options {withWorkers(0), withWorkers(3), std::nullopt, withWorkers(0), withWorkers(0)};
    const auto outcomes = engine->transcribeWithOptions(arrays, options);

    ASSERT_FALSE(timedOut);
    ASSERT_EQ(outcomes.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(outcomes[static_cast<std::size_t>(i)].isSuccess()) << i;
        const auto& results = outcomes[static_cast<std::size_t>(i)].get();
        ASSERT_EQ(results.size(), 1u);
        EXPECT_DOUBLE_EQ(results[0].timings.inputAudioSeconds, 2 + i);
        EXPECT_EQ(results[0].text, "a");
    }
    // Batches of three and two: the second batch starts after the whole first one.
    const auto windows = fixture.mel->windows();
    ASSERT_EQ(windows.size(), 5u);
    std::set<float> firstBatch, secondBatch;
    for (std::size_t i = 0; i < 3; ++i) firstBatch.insert(windows[i].firstSample);
    for (std::size_t i = 3; i < 5; ++i) secondBatch.insert(windows[i].firstSample);
    EXPECT_EQ(firstBatch, (std::set<float> {1, 2, 3}));
    EXPECT_EQ(secondBatch, (std::set<float> {4, 5}));
    EXPECT_LT(std::find(finished.begin(), finished.end(), 2.0f), std::find(finished.begin(), finished.end(), 1.0f));
}

TEST(AurisTranscription, ProgressCarriesEachArraysPositionAndItsOwnOptions)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    ThreadTags tags;
    fixture.mel->onWindow = [&](float tag) { tags.set(tag); };

    std::mutex mutex;
    std::set<int> windowIds;
    bool mismatched = false;
    std::vector<std::vector<float>> arrays;
    std::vector<std::optional<DecodingOptions>> options;
    for (int i = 0; i < 5; ++i) {
        arrays.push_back(taggedAudio(static_cast<float>(i + 1), 4));
        options.push_back(withWorkers(2));
    }
    // The fifth entry alone skips the first second.
    options[4]->clipTimestamps = {1.0f};

    const auto outcomes = engine->transcribeWithOptions(arrays, options, [&](const TranscriptionProgress& progress) {
        std::lock_guard lock(mutex);
        windowIds.insert(progress.windowId);
        mismatched |= static_cast<float>(progress.windowId + 1) != tags.current();
        return std::optional<bool>();
    });

    EXPECT_EQ(windowIds, (std::set<int> {0, 1, 2, 3, 4}));
    EXPECT_FALSE(mismatched);
    ASSERT_EQ(outcomes.size(), 5u);
    EXPECT_DOUBLE_EQ(outcomes[3].get()[0].timings.inputAudioSeconds, 4);
    EXPECT_DOUBLE_EQ(outcomes[4].get()[0].timings.inputAudioSeconds, 3);
}

TEST(AurisTranscription, UnusableBatchesAndLists)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    const std::vector<std::vector<float>> arrays {taggedAudio(1, 2), taggedAudio(2, 2)};

    EXPECT_TRUE(engine->transcribeWithOptions({}, {}).empty());
    // Negative worker counts everywhere: nothing runs, nothing comes back.
    EXPECT_TRUE(engine->transcribeWithOptions(arrays, {withWorkers(-1), withWorkers(-2)}).empty());
    EXPECT_TRUE(fixture.mel->windows().empty());

    for (const auto& unbalanced : {std::vector<std::optional<DecodingOptions>> {std::nullopt},
             std::vector<std::optional<DecodingOptions>> {std::nullopt, std::nullopt, std::nullopt}}) {
        const auto outcomes = engine->transcribeWithOptions(arrays, unbalanced);
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(messageOf(outcomes[0].error()), "The number of audio arrays and decoding options must be balanced.");
    }
    EXPECT_TRUE(fixture.mel->windows().empty());

    // A long recording cut into chunks cannot run with a negative worker count either; that is an
    // error, not an empty success.
    auto options = withWorkers(-1);
    options.chunkingStrategy = ChunkingStrategy::vad;
    EXPECT_THROW(engine->transcribe(taggedAudio(0.5f, 40), options), WhisperError);
}

TEST(AurisTranscription, ManyFilesWithAMissingMiddleFile)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    const auto first = fixture.dir / "first.wav";
    const auto third = fixture.dir / "third.wav";
    writeAudioFile(first, 16000, {sine(440, 16000, 32000)});
    writeAudioFile(third, 16000, {sine(440, 16000, 48000)});
    const std::vector<std::string> paths {first.string(), (fixture.dir / "missing.wav").string(), third.string()};

    const auto outcomes = engine->transcribeWithResults(paths);
    ASSERT_EQ(outcomes.size(), 3u);
    ASSERT_TRUE(outcomes[0].isSuccess());
    EXPECT_DOUBLE_EQ(outcomes[0].get()[0].timings.inputAudioSeconds, 2);
    ASSERT_FALSE(outcomes[1].isSuccess());
    EXPECT_THROW(std::rethrow_exception(outcomes[1].error()), WhisperError);
    ASSERT_TRUE(outcomes[2].isSuccess());
    EXPECT_DOUBLE_EQ(outcomes[2].get()[0].timings.inputAudioSeconds, 3);
    EXPECT_GT(engine->currentTimings().audioLoading, 0);

    const auto lists = engine->transcribe(paths);
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_TRUE(lists[0] && lists[2]);
    EXPECT_FALSE(lists[1]);

    // The single-file forms pass the loader's error on.
    EXPECT_THROW(engine->transcribe(paths[1]), WhisperError);
    const auto single = engine->transcribeFirst(paths[0]);
    ASSERT_TRUE(single);
    EXPECT_EQ(single->text, "a");
}

TEST(AurisTranscription, LongAudioWithVoiceChunkingIsCutAtSilences)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    DecodingOptions options;
    options.chunkingStrategy = ChunkingStrategy::vad;

    // Exactly one window stays whole; without options even long audio is one run.
    const auto whole = engine->transcribe(std::vector<float>(480000, 0.5f), options);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_FALSE(whole[0].seekTime);
    const auto unchunked = engine->transcribe(std::vector<float>(600000, 0.5f));
    ASSERT_EQ(unchunked.size(), 1u);
    EXPECT_FALSE(unchunked[0].seekTime);
    EXPECT_DOUBLE_EQ(unchunked[0].timings.inputAudioSeconds, 37.5);

    // Speech, a pause, speech: two chunks, times counted from the start of the whole recording.
    std::vector<float> audio(45 * 16000, 0.0f);
    addTone(audio, 0, 20, 0.5f);
    addTone(audio, 24, 45, 0.5f);
    const auto chunked = engine->transcribe(audio, options);
    ASSERT_EQ(chunked.size(), 2u);
    ASSERT_TRUE(chunked[0].seekTime && chunked[1].seekTime);
    EXPECT_FLOAT_EQ(*chunked[0].seekTime, 0);
    EXPECT_GT(*chunked[1].seekTime, 20);
    EXPECT_LT(*chunked[1].seekTime, 24);
    ASSERT_EQ(chunked[1].segments.size(), 1u);
    EXPECT_FLOAT_EQ(chunked[1].segments[0].start, *chunked[1].seekTime);
    EXPECT_FLOAT_EQ(chunked[1].segments[0].end, *chunked[1].seekTime + 1);
    EXPECT_EQ(chunked[1].segments[0].seek, static_cast<int>(*chunked[1].seekTime * 16000));
}

TEST(AurisTranscription, ConcurrentRunsShareOneModelLoad)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    ASSERT_EQ(engine->modelState(), ModelState::unloaded);

    std::vector<std::vector<float>> arrays;
    for (int i = 0; i < 6; ++i) arrays.push_back(taggedAudio(static_cast<float>(i + 1), 2));
    const auto outcomes = engine->transcribeWithResults(arrays, withWorkers(0));

    for (const auto& outcome : outcomes) EXPECT_TRUE(outcome.isSuccess());
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(fixture.mel->loads().size(), 1u);
    EXPECT_EQ(fixture.tokenizerLoads, 1);
}

TEST(AurisTranscription, ProgressCancellationAndMissingPieces)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    const auto audio = taggedAudio(1, 3);

    // A finished run leaves the old progress complete and installs a fresh one.
    const auto before = engine->progress();
    engine->transcribe(audio);
    EXPECT_TRUE(before->isFinished());
    EXPECT_NE(engine->progress(), before);
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0);

    // Cancelled before the run: the error passes and the progress starts over without children.
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(engine->transcribe(audio, std::nullopt, {}, stop.get_token()), CancellationError);
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0);
    EXPECT_EQ(engine->progress()->completedUnitCount(), 0);

    engine->setTokenizer(nullptr);
    try {
        engine->transcribe(audio);
        FAIL() << "no tokenizer";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::tokenizerUnavailable);
    }

    // An engine that never got a folder cannot load its models when asked to transcribe.
    auto config = fixture.config();
    config.modelFolder.reset();
    Auris empty(config);
    try {
        empty.transcribe(audio);
        FAIL() << "no model folder";
    } catch (const WhisperError& error) {
        EXPECT_STREQ(error.what(), "Model folder is not set.");
    }
    EXPECT_EQ(empty.modelState(), ModelState::loading);
}

TEST(AurisTranscription, VerboseOptionsReportEveryResult)
{
    EngineFixture fixture;
    auto engine = fixture.engine();
    CapturedLog log(Logging::LogLevel::debug);
    DecodingOptions options;
    options.verbose = true;
    engine->transcribe(taggedAudio(1, 3), options);

    const auto lines = log.lines();
    const auto total = std::find(lines.begin(), lines.end(), "Total Transcription Results: 1");
    ASSERT_NE(total, lines.end());
    EXPECT_NE(std::find(total, lines.end(), "[Result 0]"), lines.end());
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
        [](const std::string& line) { return line.starts_with("---- Transcription Timings ----"); }));
}
