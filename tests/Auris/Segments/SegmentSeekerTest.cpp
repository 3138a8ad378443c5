#include "Auris/Segments/SegmentSeeker.hpp"

#include "Auris/Segments/FakeWhisperTokenizer.hpp"

#include <gtest/gtest.h>

#include <climits>

using namespace auris;
using testsupport::FakeWhisperTokenizer;

namespace {

constexpr int A = 1, B = 2, C = 3, D = 4;
constexpr int window = 480000;

int ts(double seconds) { return FakeWhisperTokenizer::timestamp(seconds); }

const FakeWhisperTokenizer& tokenizer()
{
    static const FakeWhisperTokenizer instance({{A, " a"}, {B, " b"}, {C, " c"}, {D, " d"}});
    return instance;
}

// A confident decode of `tokens`, each token's log-probability its position negated.
DecodingResult decoded(std::vector<int> tokens)
{
    DecodingResult result;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        result.tokenLogProbs.push_back({{tokens[i], -static_cast<float>(i)}});
    }
    result.tokens = std::move(tokens);
    result.avgLogProb = -0.2f;
    result.noSpeechProb = 0.1f;
    result.temperature = 0.4f;
    result.compressionRatio = 1.5f;
    return result;
}

std::pair<int, std::optional<std::vector<TranscriptionSegment>>> seek(const DecodingResult& result,
    const DecodingOptions& options = {}, int currentSeek = 32000, int segmentSize = window, int allSegmentsCount = 5)
{
    return SegmentSeeker().findSeekPointAndSegments(result, options, allSegmentsCount, currentSeek, segmentSize, 16000,
        FakeWhisperTokenizer::timeTokenBegin, FakeWhisperTokenizer::endToken, tokenizer());
}

} // namespace

TEST(SegmentSeeker, AdjacentTimestampsCutSegmentsAndTheSeekLandsOnTheLastPair)
{
    // One pair: the text after it is left for the next window.
    auto [next, segments] = seek(decoded({ts(0), A, ts(1), ts(1), B, ts(2)}));
    EXPECT_EQ(next, 32000 + 16000);
    ASSERT_TRUE(segments);
    ASSERT_EQ(segments->size(), 1u);
    const auto& first = segments->front();
    EXPECT_EQ(first.id, 5);
    EXPECT_EQ(first.seek, 32000);
    EXPECT_FLOAT_EQ(first.start, 2.0f);
    EXPECT_FLOAT_EQ(first.end, 3.0f);
    EXPECT_EQ(first.tokens, (std::vector<int> {ts(0), A, ts(1)}));
    EXPECT_EQ(first.tokenLogProbs, (std::vector<std::map<int, float>> {{{ts(0), -0.f}}, {{A, -1.f}}, {{ts(1), -2.f}}}));
    EXPECT_EQ(first.text, "<|0.00|> a<|1.00|>");
    EXPECT_FLOAT_EQ(first.temperature, 0.4f);
    EXPECT_FLOAT_EQ(first.avgLogprob, -0.2f);
    EXPECT_FLOAT_EQ(first.compressionRatio, 1.5f);
    EXPECT_FLOAT_EQ(first.noSpeechProb, 0.1f);
    EXPECT_FALSE(first.words);

    // Two pairs: segments are numbered on, and the second starts at the second of the first pair.
    std::tie(next, segments) = seek(decoded({ts(0), A, ts(1), ts(1), B, ts(2.5), ts(2.5), C, ts(3)}));
    EXPECT_EQ(next, 32000 + 40000);
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ((*segments)[1].id, 6);
    EXPECT_EQ((*segments)[1].tokens, (std::vector<int> {ts(1), B, ts(2.5)}));
    EXPECT_FLOAT_EQ((*segments)[1].start, 3.0f);
    EXPECT_FLOAT_EQ((*segments)[1].end, 4.5f);
    EXPECT_EQ((*segments)[1].tokenLogProbs[1], (std::map<int, float> {{B, -4.f}}));

    // A pair of just two tokens is too short to have an ending: the seek goes to its second token.
    std::tie(next, segments) = seek(decoded({ts(4), ts(4)}));
    EXPECT_EQ(next, 32000 + 64000);
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_EQ(segments->front().tokens, (std::vector<int> {ts(4)}));
    EXPECT_FLOAT_EQ(segments->front().start, 6.0f);
    EXPECT_FLOAT_EQ(segments->front().end, 6.0f);
}

TEST(SegmentSeeker, EndingsDecideTheLastSliceAndTheSeek)
{
    // Text, timestamp, text: the last timestamp closes a slice and is where the next window starts.
    auto [next, segments] = seek(decoded({ts(0), A, ts(1), ts(1), B, ts(2), C}));
    EXPECT_EQ(next, 32000 + 32000);
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ((*segments)[1].tokens, (std::vector<int> {ts(1), B, ts(2)}));
    EXPECT_FLOAT_EQ((*segments)[1].end, 4.0f);

    // Three texts at the end: the tail is a segment of its own and the whole window is consumed.
    std::tie(next, segments) = seek(decoded({ts(0), A, ts(1), ts(1), B, C, D}), {}, 32000, 200000);
    EXPECT_EQ(next, 32000 + 200000);
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ((*segments)[1].tokens, (std::vector<int> {ts(1), B, C, D}));
    EXPECT_EQ((*segments)[1].text, "<|1.00|> b c d");
    EXPECT_FLOAT_EQ((*segments)[1].start, 3.0f);
    EXPECT_FLOAT_EQ((*segments)[1].end, 3.0f);
}

TEST(SegmentSeeker, WithoutAdjacentTimestampsTheWholeWindowIsOneSegment)
{
    // Only the zero timestamp: the segment lasts the whole window.
    auto [next, segments] = seek(decoded({ts(0), A, B}), {}, 32000, 100000);
    EXPECT_EQ(next, 132000);
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_FLOAT_EQ(segments->front().start, 2.0f);
    EXPECT_FLOAT_EQ(segments->front().end, 2.0f + 100000.0f / 16000.0f);
    EXPECT_EQ(segments->front().tokens.size(), 3u);

    // A later timestamp ends the segment, yet the seek still moves by the whole window.
    std::tie(next, segments) = seek(decoded({ts(0), A, ts(1.5), B}), {}, 32000, 100000);
    EXPECT_EQ(next, 132000);
    EXPECT_FLOAT_EQ(segments->front().end, 3.5f);
}

TEST(SegmentSeeker, SilenceIsSkippedUnlessTheDecodeIsConfident)
{
    auto silent = decoded({ts(0), A, ts(1)});
    silent.noSpeechProb = 0.9f;
    silent.avgLogProb = -2.0f;

    auto [next, segments] = seek(silent, DecodingOptions({.logProbThreshold = std::nullopt}), 32000, 100000);
    EXPECT_EQ(next, 132000);
    EXPECT_FALSE(segments);
    // Default thresholds: -2.0 is not above -1.0, so still silence.
    EXPECT_FALSE(seek(silent).second);

    EXPECT_TRUE(seek(silent, DecodingOptions({.noSpeechThreshold = std::nullopt})).second);
    silent.avgLogProb = -0.5f;
    EXPECT_TRUE(seek(silent).second);
}

TEST(SegmentSeeker, SkippingSpecialTokensKeepsOnlyTextInTheSegmentText)
{
    const DecodingOptions skip({.skipSpecialTokens = true});
    auto [next, segments] = seek(decoded({ts(0), A, FakeWhisperTokenizer::endToken, B, ts(1), ts(1)}), skip);
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_EQ(segments->front().text, " a b");
    EXPECT_EQ(segments->front().tokens.size(), 5u);

    std::tie(next, segments) = seek(decoded({ts(0), A, FakeWhisperTokenizer::endToken, B, ts(1), ts(1)}));
    EXPECT_EQ(segments->front().text, "<|0.00|> a<|endoftext|> b<|1.00|>");
}

TEST(SegmentSeeker, MalformedDecodesStayWithinBounds)
{
    // Fewer log-probability entries than tokens: the missing ones are empty.
    auto result = decoded({ts(0), A, ts(1), ts(1), B, C, D});
    result.tokenLogProbs.resize(2);
    auto [next, segments] = seek(result);
    ASSERT_EQ(segments->size(), 2u);
    EXPECT_EQ((*segments)[0].tokenLogProbs.size(), 3u);
    EXPECT_TRUE((*segments)[0].tokenLogProbs[2].empty());
    EXPECT_EQ((*segments)[1].tokenLogProbs, (std::vector<std::map<int, float>>(4)));

    // A timestamp far beyond any window saturates instead of overflowing.
    std::tie(next, segments) = seek(decoded({ts(0), A, INT_MAX, INT_MAX, B, ts(1)}), {}, INT_MAX - 10);
    EXPECT_EQ(next, INT_MAX);

    // No tokens at all: one empty segment over the whole window.
    std::tie(next, segments) = seek(decoded({}), {}, 0, 1000, 0);
    EXPECT_EQ(next, 1000);
    ASSERT_EQ(segments->size(), 1u);
    EXPECT_TRUE(segments->front().tokens.empty());
    EXPECT_EQ(segments->front().text, "");
}
