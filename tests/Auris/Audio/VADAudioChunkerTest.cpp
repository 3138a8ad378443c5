#include "Auris/Audio/AudioProcessor.hpp"
#include "Auris/Audio/EnergyVAD.hpp"
#include "Auris/Audio/VADAudioChunker.hpp"
#include "Auris/Core/WhisperError.hpp"

#include "Auris/Audio/LogCapture.hpp"
#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace auris;
using namespace testsupport;
using ::testing::ElementsAre;

namespace {

constexpr int window = 480'000;

std::vector<float> voice(double seconds, std::uint32_t seed = 1)
{
    return noise(static_cast<std::size_t>(seconds * 16000), 0.3f, seed);
}

std::vector<float> pause(double seconds)
{
    return std::vector<float>(static_cast<std::size_t>(seconds * 16000), 0.0f);
}

// (start, length) of every chunk, checking that each holds its own stretch of the audio.
std::vector<std::pair<int, int>> layout(const std::vector<AudioChunk>& chunks, const std::vector<float>& audio)
{
    std::vector<std::pair<int, int>> found;
    for (const auto& chunk : chunks) {
        EXPECT_TRUE(std::equal(chunk.audioSamples.begin(), chunk.audioSamples.end(), audio.begin() + chunk.seekOffsetIndex));
        found.emplace_back(chunk.seekOffsetIndex, static_cast<int>(chunk.audioSamples.size()));
    }
    return found;
}

std::vector<std::pair<int, int>> chunk(const std::vector<float>& audio, std::vector<float> clipTimestamps = {})
{
    VADAudioChunker chunker(16000);
    DecodingOptions options;
    options.clipTimestamps = std::move(clipTimestamps);
    return layout(chunker.chunkAll(audio, window, options), audio);
}

TranscriptionResult resultWithSegment(float start, float end)
{
    TranscriptionSegment segment;
    segment.start = start;
    segment.end = end;
    segment.words = std::vector<WordTiming> {{"hi", {1}, start, end, 0.9f}};
    TranscriptionResult result;
    result.text = "hi";
    result.segments = {segment};
    return result;
}

} // namespace

TEST(VADAudioChunker, AudioUpToOneWindowIsOneChunk)
{
    VADAudioChunker chunker;
    EXPECT_EQ(chunker.windowPadding(), 16000);
    const auto silent = pause(30);
    EXPECT_THAT(layout(chunker.chunkAll(silent, window, std::nullopt), silent), ElementsAre(std::pair(0, window)));
    EXPECT_THAT(layout(chunker.chunkAll({}, window, std::nullopt), {}), ElementsAre(std::pair(0, 0)));
    EXPECT_THROW(chunker.chunkAll(silent, 0, std::nullopt), WhisperError);
    EXPECT_THROW(VADAudioChunker(-1), std::invalid_argument);
}

TEST(VADAudioChunker, ContinuousVoiceIsCutAtFullWindowsAndItsTailKept)
{
    EXPECT_THAT(chunk(voice(75)), ElementsAre(std::pair(0, window), std::pair(window, window), std::pair(2 * window, 240'000)));
    // A tail shorter than the padding is still transcribed when it holds voice...
    EXPECT_THAT(chunk(voice(60.5)), ElementsAre(std::pair(0, window), std::pair(window, window), std::pair(2 * window, 8000)));
    // ...and dropped when it is silent.
    EXPECT_THAT(chunk(concatenate({voice(60), pause(0.5)})), ElementsAre(std::pair(0, window), std::pair(window, window)));
}

TEST(VADAudioChunker, CutsInTheMiddleOfTheLongestPauseOfTheSecondHalf)
{
    // A long pause in the first half is not searched; of the second half's pauses the longer wins.
    const auto audio = concatenate({voice(5, 1), pause(4), voice(7, 2), pause(0.5), voice(3.5, 3), pause(1), voice(19, 4)});
    LogCapture log;
    EXPECT_THAT(chunk(audio), ElementsAre(std::pair(0, 328'000), std::pair(328'000, 640'000 - 328'000)));
    EXPECT_THAT(log.startingWith("Found chunk"), ElementsAre("Found chunk from 0.00 to 20.50", "Found chunk from 20.50 to 40.00"));

    // Of two equally long pauses the earlier wins.
    const auto even = concatenate({voice(16, 1), pause(0.5), voice(3.5, 3), pause(0.5), voice(19.5, 4)});
    EXPECT_EQ(chunk(even).front(), std::pair(0, 259'200));
}

TEST(VADAudioChunker, FollowsClipRanges)
{
    const auto audio = voice(70);
    EXPECT_THAT(chunk(audio, {0, 10, 20}),
        ElementsAre(std::pair(0, 160'000), std::pair(320'000, window), std::pair(800'000, 320'000)));
    // A range shorter than the padding counts only when it holds voice.
    EXPECT_THAT(chunk(audio, {10, 10.5}), ElementsAre(std::pair(160'000, 8000)));
    EXPECT_TRUE(chunk(concatenate({voice(5), pause(65)}), {10, 10.5}).empty());
    // A range reaching past the end stops there; one starting past it is empty.
    EXPECT_THAT(chunk(audio, {60, 100}), ElementsAre(std::pair(960'000, 160'000)));
    EXPECT_TRUE(chunk(audio, {100}).empty());
    try {
        chunk(audio, {-5, 50});
        FAIL() << "a negative start was accepted";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.kind(), WhisperError::Kind::audioProcessingFailed);
        EXPECT_STREQ(error.what(), "startIndex is outside the buffer size");
    }
}

TEST(VADAudioChunker, SpeechIsCutOnlyInPausesAndNeverLost)
{
    TemporaryDirectory dir;
    const auto spoken = speak("Recording notes for the weekly meeting. We talked about the budget, the schedule, and "
                              "the new design of the settings window.",
        dir / "speech.wav");
    if (!spoken) {
        GTEST_SKIP() << "espeak-ng is missing: speech chunking is not checked";
    }
    auto buffer = AudioProcessor::loadAudio(spoken->string());
    const auto sentence = AudioProcessor::convertBufferToArray(buffer);
    ASSERT_GT(sentence.size(), 16000u * 3);

    std::vector<float> audio;
    const double pauses[] = {0.3, 1.2, 0.6, 2.0, 0.4, 1.5, 0.8, 0.35, 1.1, 0.7};
    for (std::size_t i = 0; audio.size() < 16000u * 100; ++i) {
        audio.insert(audio.end(), sentence.begin(), sentence.end());
        const auto gap = pause(pauses[i % std::size(pauses)]);
        audio.insert(audio.end(), gap.begin(), gap.end());
    }

    VADAudioChunker chunker;
    const auto chunks = chunker.chunkAll(audio, window, std::nullopt);
    ASSERT_GE(chunks.size(), 4u);
    const EnergyVAD vad;
    std::vector<bool> covered(audio.size(), false);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const auto& piece = chunks[i];
        EXPECT_LE(piece.audioSamples.size(), static_cast<std::size_t>(window));
        std::fill_n(covered.begin() + piece.seekOffsetIndex, piece.audioSamples.size(), true);
        if (i > 0) {
            // Every cut lies in a quiet frame.
            const std::span<const float> around(audio.data() + piece.seekOffsetIndex, 1600);
            EXPECT_LT(AudioProcessor::calculateAverageEnergy(around), vad.energyThreshold()) << "cut at " << piece.seekOffsetIndex;
        }
    }
    for (const auto& range : AudioProcessor::calculateNonSilentChunks(audio)) {
        EXPECT_TRUE(std::all_of(covered.begin() + range.startIndex, covered.begin() + range.endIndex, [](bool c) { return c; }))
            << "voice at " << range.startIndex << " was dropped";
    }
}

TEST(AudioChunking, ResultsMoveOntoTheRecordingsTimeline)
{
    const std::vector<AudioChunk> chunks {{0, {}}, {240'000, {}}, {480'000, {}}};
    std::vector<ChunkTranscriptionOutcome> outcomes {
        std::vector<TranscriptionResult> {resultWithSegment(0, 2)},
        std::make_exception_ptr(std::runtime_error("decoder exploded")),
        std::vector<TranscriptionResult> {resultWithSegment(0, 2), resultWithSegment(1, 1.5f)},
    };
    VADAudioChunker chunker;
    LogCapture log;
    const auto results = chunker.updateSeekOffsetsForResults(outcomes, chunks);
    EXPECT_THAT(log.lines(), ElementsAre("Error transcribing chunk 1: decoder exploded"));

    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].seekTime, 0.0f);
    EXPECT_EQ(results[0].segments[0].start, 0.0f);
    EXPECT_EQ(results[0].segments[0].seek, 0);
    for (const auto& moved : {results[1], results[2]}) {
        EXPECT_EQ(moved.seekTime, 30.0f);
        EXPECT_EQ(moved.segments[0].seek, 480'000);
        EXPECT_EQ(moved.segments[0].id, 0);
        EXPECT_EQ(moved.text, "hi");
        EXPECT_EQ((*moved.segments[0].words)[0].start, moved.segments[0].start);
        EXPECT_EQ((*moved.segments[0].words)[0].end, moved.segments[0].end);
    }
    EXPECT_EQ(results[1].segments[0].start, 30.0f);
    EXPECT_EQ(results[1].segments[0].end, 32.0f);
    EXPECT_EQ(results[2].segments[0].start, 31.0f);

    EXPECT_TRUE(chunker.updateSeekOffsetsForResults({std::make_exception_ptr(std::runtime_error("x"))}, {{0, {}}}).empty());
    EXPECT_THROW(chunker.updateSeekOffsetsForResults(outcomes, {{0, {}}}), std::invalid_argument);
}
