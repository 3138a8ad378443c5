#include "Auris/Core/WhisperError.hpp"
#include "Auris/Segments/SegmentSeeker.hpp"

#include "Auris/Segments/FakeWhisperTokenizer.hpp"
#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace auris;
using testsupport::FakeWhisperTokenizer;

namespace {

constexpr std::string_view prependMarks = "\"'\u201c\u00bf([{-";
constexpr std::string_view appendMarks = "\"'.\u3002,\uff0c!\uff01?\uff1f:\uff1a\u201d)]}\u3001";

constexpr int A = 1, B = 2, C = 3, D = 4, E = 5, Dot = 6, Comma = 7, Bang = 8, Open = 9, Ing = 10;

int ts(double seconds) { return FakeWhisperTokenizer::timestamp(seconds); }

const FakeWhisperTokenizer& tokenizer()
{
    static const FakeWhisperTokenizer instance(
        {{A, " a"}, {B, " b"}, {C, " c"}, {D, " d"}, {E, " e"}, {Dot, "."}, {Comma, ","}, {Bang, "!"}, {Open, " ("},
            {Ing, "ing"}});
    return instance;
}

ml::MultiArray matrix(ml::MultiArrayDataType type, std::vector<int> shape, const std::vector<float>& values)
{
    ml::MultiArray array(std::move(shape), type);
    for (std::size_t i = 0; i < values.size(); ++i) {
        array.setLinear(i, values[i]);
    }
    return array;
}

WordTiming word(std::string text, std::vector<int> tokens, float start, float end, float probability = 0.5f)
{
    return WordTiming {.word = std::move(text), .tokens = std::move(tokens), .start = start, .end = end, .probability = probability};
}

TranscriptionSegment segment(std::vector<int> tokens, float start, float end)
{
    TranscriptionSegment result;
    result.start = start;
    result.end = end;
    result.tokens = std::move(tokens);
    return result;
}

// A seeker whose alignment step returns a fixed list, to exercise the steps after it.
class ScriptedSeeker : public SegmentSeeker {
public:
    explicit ScriptedSeeker(std::vector<WordTiming> alignment)
        : alignment_(std::move(alignment))
    {
    }
    std::vector<WordTiming> findAlignment(const std::vector<int>&, const ml::MultiArray&,
        const std::vector<std::optional<float>>&, const WhisperTokenizer&, const TranscriptionTimings&) const override
    {
        return alignment_;
    }

private:
    std::vector<WordTiming> alignment_;
};

std::vector<TranscriptionSegment> place(const SegmentSeeker& seeker, std::vector<TranscriptionSegment> segments,
    int seek = 0, float lastSpeechTimestamp = 0, std::string_view prepend = prependMarks,
    std::string_view append = appendMarks)
{
    const auto weights = ml::MultiArray({1, 1500}, ml::MultiArrayDataType::float16);
    return seeker.addWordTimestamps(std::move(segments), weights, tokenizer(), seek, 480000, prepend, append,
        lastSpeechTimestamp, DecodingOptions {}, TranscriptionTimings {});
}

} // namespace

TEST(WordAlignment, WarpingFollowsStrongWeightsAndBreaksTiesToTheLeft)
{
    const SegmentSeeker seeker;
    const auto diagonal = matrix(ml::MultiArrayDataType::float16, {2, 2}, {1, -1, -1, 1});
    EXPECT_EQ(seeker.dynamicTimeWarping(diagonal), (AlignmentPath {{0, 1}, {0, 1}}));

    // Each token attends to its own pair of frames.
    const std::vector<float> blocks {1, 1, -1, -1, -1, -1, -1, -1, 1, 1, -1, -1, -1, -1, -1, -1, 1, 1};
    EXPECT_EQ(seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float16, {3, 6}, blocks)),
        (AlignmentPath {{0, 0, 1, 1, 2, 2}, {0, 1, 2, 3, 4, 5}}));

    // Weights whose half-precision bits read as 32-bit floats would be nonsense give the same path
    // as the same values stored in single precision.
    const std::vector<float> uneven {0.25f, 3.5f, -2.0f, 0.125f, -1.5f, 0.75f, 2.25f, -0.5f, -3.0f, 1.0f, 0.5f, 4.0f};
    EXPECT_EQ(seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float16, {3, 4}, uneven)),
        seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float32, {3, 4}, uneven)));

    // Equal diagonal and upward costs: the step from the left wins even though it costs more.
    EXPECT_EQ(seeker.minCostAndTrace(1, 1, 5, 0), (std::pair<double, int> {5, 2}));

    // Border runs and empty matrices: index -1 opens the path along the border.
    EXPECT_EQ(seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float32, {0, 2}, {})),
        (AlignmentPath {{-1, -1}, {0, 1}}));
    EXPECT_EQ(seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float32, {0, 0}, {})), AlignmentPath {});
    // A trace with no steps recorded still ends, walking the border.
    EXPECT_EQ(seeker.backtrace(TraceMatrix(2, 2)), (AlignmentPath {{0, 0}, {-1, 0}}));

    try {
        seeker.dynamicTimeWarping(matrix(ml::MultiArrayDataType::float32, {1, 2, 2}, {1, 2, 3, 4}));
        FAIL() << "a three-dimensional matrix was accepted";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error, WhisperError::segmentingFailed("Invalid alignment matrix shape"));
    }
}

TEST(WordAlignment, FindAlignmentTimesWordsAtPathJumps)
{
    const SegmentSeeker seeker;
    const std::vector<float> blocks {1, 1, -1, -1, -1, -1, -1, -1, 1, 1, -1, -1, -1, -1, -1, -1, 1, 1};
    const auto weights = matrix(ml::MultiArrayDataType::float16, {3, 6}, blocks);

    // " b" + "ing" is one word of two tokens; its probability uses the mean of both, in base 10.
    auto words = seeker.findAlignment({A, B, Ing}, weights, {-0.5f, -0.25f, -0.75f}, tokenizer(), {});
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].word, " a");
    EXPECT_EQ(words[0].tokens, (std::vector<int> {A}));
    EXPECT_FLOAT_EQ(words[0].start, 0.0f);
    EXPECT_FLOAT_EQ(words[0].end, 0.04f);
    EXPECT_FLOAT_EQ(words[0].probability, std::pow(10.0f, -0.5f));
    EXPECT_EQ(words[1].word, " bing");
    EXPECT_EQ(words[1].tokens, (std::vector<int> {B, Ing}));
    EXPECT_FLOAT_EQ(words[1].start, 0.04f);
    EXPECT_FLOAT_EQ(words[1].end, 0.10f);
    EXPECT_FLOAT_EQ(words[1].probability, std::pow(10.0f, -0.5f));

    // A position without a log-probability leaves the others' probabilities where they belong.
    words = seeker.findAlignment({A, B, C}, weights, {std::nullopt, -1.0f, -2.0f}, tokenizer(), {});
    ASSERT_EQ(words.size(), 3u);
    EXPECT_FLOAT_EQ(words[0].probability, 0.0f);
    EXPECT_FLOAT_EQ(words[1].probability, 0.1f);
    EXPECT_FLOAT_EQ(words[2].probability, 0.01f);
    EXPECT_FLOAT_EQ(words[2].start, 0.08f);

    // One word is too few to align.
    EXPECT_TRUE(seeker.findAlignment({A, Ing}, matrix(ml::MultiArrayDataType::float16, {2, 6}, std::vector<float>(12, 1)),
        {-1, -1}, tokenizer(), {}).empty());
}

TEST(WordAlignment, PunctuationJoinsItsNeighbours)
{
    const SegmentSeeker seeker;
    auto merge = [&](std::vector<WordTiming> words) { return seeker.mergePunctuations(words, prependMarks, appendMarks); };

    // Closing marks join the word before them, with that word's timing.
    EXPECT_EQ(merge({word(" Hello", {A}, 0, 1), word(",", {Comma}, 1, 2)}),
        (std::vector<WordTiming> {word(" Hello,", {A, Comma}, 0, 1)}));
    EXPECT_EQ(merge({word(" Hello", {A}, 0, 1), word(",", {Comma}, 1, 2), word("!", {Bang}, 2, 3), word(" b", {B}, 3, 4)}),
        (std::vector<WordTiming> {word(" Hello,!", {A, Comma, Bang}, 0, 1), word(" b", {B}, 3, 4)}));

    // An opening mark takes the word after it, keeping its own timing, also when it leads the list.
    EXPECT_EQ(merge({word(" a", {A}, 0, 1), word(" (", {Open}, 1, 2), word("world", {Ing}, 2, 3)}),
        (std::vector<WordTiming> {word(" a", {A}, 0, 1), word(" (world", {Open, Ing}, 1, 2)}));
    EXPECT_EQ(merge({word(" (", {Open}, 1, 2), word("world", {Ing}, 2, 3), word(" b", {B}, 3, 4)}),
        (std::vector<WordTiming> {word(" (world", {Open, Ing}, 1, 2), word(" b", {B}, 3, 4)}));
    // Only a mark after a blank opens a word; a bare one stays alone and is dropped.
    EXPECT_EQ(merge({word(" a", {A}, 0, 1), word("(", {Open}, 1, 2), word("b", {B}, 2, 3)}),
        (std::vector<WordTiming> {word(" a", {A}, 0, 1), word("b", {B}, 2, 3)}));

    // A comma after a trailing space stays alone and is dropped, as are empty words.
    EXPECT_EQ(merge({word(" Hi ", {A}, 0, 1), word(",", {Comma}, 1, 2), word("", {}, 2, 3)}),
        (std::vector<WordTiming> {word(" Hi ", {A}, 0, 1)}));
    // A blank word is no mark.
    EXPECT_EQ(merge({word(" ", {A}, 0, 1), word(" b", {B}, 1, 2)}),
        (std::vector<WordTiming> {word(" ", {A}, 0, 1), word(" b", {B}, 1, 2)}));
    EXPECT_TRUE(merge({}).empty());
}

TEST(WordAlignment, LongWordsAreTrimmedAroundSentenceEnds)
{
    // Durations 0.2, 0.4, 0.6, 1.8, 2.0: median 0.6, so words may last 1.2 s. Without punctuation
    // sets the full stop stays a word of its own.
    ScriptedSeeker seeker({word(" a", {A}, 0.0f, 0.2f), word(" b", {B}, 0.2f, 0.6f), word(" c", {C}, 0.6f, 1.2f),
        word(".", {Dot}, 1.2f, 3.0f), word(" d", {D}, 3.0f, 5.0f)});
    auto segments = place(seeker, {segment({ts(0), A, B, C, Dot, D, ts(5)}, 0.0f, 5.0f)}, 0, 0, "", "");
    ASSERT_TRUE(segments[0].words);
    const auto& words = *segments[0].words;
    ASSERT_EQ(words.size(), 5u);
    EXPECT_FLOAT_EQ(words[3].start, 1.2f);
    EXPECT_FLOAT_EQ(words[3].end, 2.4f);
    EXPECT_FLOAT_EQ(words[4].start, 3.8f);
    EXPECT_FLOAT_EQ(words[4].end, 5.0f);
    EXPECT_FLOAT_EQ(segments[0].start, 0.0f);
    EXPECT_FLOAT_EQ(segments[0].end, 5.0f);

    // Durations 0.2, 0.4, 1.0, 2.0: the upper median 1.0 is capped, so words may last 1.4 s.
    ScriptedSeeker capped({word(" a", {A}, 0.0f, 0.2f), word(" b", {B}, 0.2f, 0.6f), word(".", {Dot}, 0.6f, 1.6f),
        word(" c", {C}, 1.6f, 3.6f)});
    segments = place(capped, {segment({A, B, Dot, C}, 0.0f, 3.6f)}, 0, 0, "", "");
    EXPECT_FLOAT_EQ((*segments[0].words)[2].end, 1.6f);
    EXPECT_FLOAT_EQ((*segments[0].words)[3].start, 2.2f);
}

TEST(WordAlignment, SegmentsTakeTheirWordsAndBoundaries)
{
    // Durations 3.0, 1.0, 0.2, 0.2, 0.2: median 0.2, words may last 0.4 s. The first word follows a
    // long silence and the second is long too, so they share a boundary; the segment's own start
    // then wins over the first word's.
    ScriptedSeeker seeker({word(" a", {A}, 0.0f, 3.0f), word(" b", {B}, 3.0f, 4.0f), word(" c", {C}, 4.0f, 4.2f),
        word(" d", {D}, 4.2f, 4.4f), word(" e", {E}, 4.4f, 4.6f)});
    auto segments = place(seeker, {segment({ts(2), A, B, C, D, E, ts(4.5)}, 2.0f, 4.5f)});
    const auto& words = *segments[0].words;
    ASSERT_EQ(words.size(), 5u);
    EXPECT_FLOAT_EQ(words[0].start, 2.0f);
    EXPECT_FLOAT_EQ(words[0].end, 3.6f);
    EXPECT_FLOAT_EQ(words[1].start, 3.6f);
    EXPECT_FLOAT_EQ(words[1].end, 4.0f);
    EXPECT_FLOAT_EQ(segments[0].start, 2.0f);
    // The segment ended inside its last word but not by much: it takes the word's end.
    EXPECT_FLOAT_EQ(segments[0].end, 4.6f);

    // Words are handed out by text-token count; a segment of timestamps only gets none and keeps
    // its times; a segment that ends well before its last word cuts that word.
    ScriptedSeeker walk({word(" a", {A}, 0.0f, 0.2f), word(" b", {B}, 0.2f, 0.4f), word(" c", {C}, 0.4f, 2.0f),
        word(" d", {D}, 2.0f, 2.2f), word(" e", {E}, 2.2f, 2.4f)});
    segments = place(walk,
        {segment({ts(0), A, B, C, ts(1)}, 10.0f, 11.0f), segment({ts(1), ts(1)}, 11.0f, 11.0f),
            segment({ts(2), D, E, ts(2.4)}, 12.0f, 12.4f)},
        160000);
    ASSERT_EQ(segments.size(), 3u);
    const auto& first = *segments[0].words;
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[2].word, " c");
    EXPECT_FLOAT_EQ(first[0].start, 10.0f);
    EXPECT_FLOAT_EQ(first[2].start, 10.4f);
    EXPECT_FLOAT_EQ(first[2].end, 11.0f);
    EXPECT_FLOAT_EQ(segments[0].start, 10.0f);
    EXPECT_FLOAT_EQ(segments[0].end, 11.0f);
    EXPECT_TRUE(segments[1].words && segments[1].words->empty());
    EXPECT_FLOAT_EQ(segments[1].start, 11.0f);
    EXPECT_FLOAT_EQ(segments[1].end, 11.0f);
    ASSERT_EQ(segments[2].words->size(), 2u);
    EXPECT_EQ((*segments[2].words)[1].tokens, (std::vector<int> {E}));
    EXPECT_FLOAT_EQ(segments[2].end, 12.4f);
}

TEST(WordAlignment, WordsNeverEndBeforeTheyStartAndHoldOnlyText)
{
    // Durations 3 and 7: the upper median is capped, so words may last 1.4 s. After the long first
    // word the two share a boundary at 8.6, past the segment's end at 6: the segment then takes the
    // second word's end rather than cutting that word off before its start.
    ScriptedSeeker pair({word(" a", {A}, 0.0f, 3.0f), word(" b", {B}, 3.0f, 10.0f)});
    auto segments = place(pair, {segment({ts(0), A, B, ts(6)}, 0.0f, 6.0f)});
    ASSERT_EQ(segments[0].words->size(), 2u);
    EXPECT_FLOAT_EQ((*segments[0].words)[1].start, 8.6f);
    EXPECT_FLOAT_EQ((*segments[0].words)[1].end, 10.0f);
    EXPECT_FLOAT_EQ(segments[0].end, 10.0f);

    // A lone long word after a pause starts 1.4 s before its end, later than the segment ends.
    ScriptedSeeker lone({word(" a", {A}, 0.0f, 3.0f)});
    segments = place(lone, {segment({ts(0), A, ts(1)}, 0.0f, 1.0f)});
    ASSERT_EQ(segments[0].words->size(), 1u);
    EXPECT_FLOAT_EQ((*segments[0].words)[0].start, 1.6f);
    EXPECT_FLOAT_EQ((*segments[0].words)[0].end, 3.0f);
    EXPECT_FLOAT_EQ(segments[0].end, 3.0f);

    // Text right after a timestamp, with no blank, joins it in the word split; the word keeps its text.
    ScriptedSeeker joined({word("<|0.00|>ing", {ts(0), Ing}, 0.0f, 0.4f), word(" a", {A}, 0.4f, 0.8f)});
    segments = place(joined, {segment({ts(0), Ing, A, ts(0.8)}, 0.0f, 0.8f)});
    const auto& words = *segments[0].words;
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].word, "ing");
    EXPECT_EQ(words[0].tokens, (std::vector<int> {Ing}));
    EXPECT_EQ(words[1].word, " a");
}

TEST(WordAlignment, TimesAndProbabilitiesHaveTwoDecimals)
{
    ScriptedSeeker seeker({word(" a", {A}, 0.125f, 0.5f, -0.125f), word(" b", {B}, 0.5f, 0.875f, 0.125f)});
    const auto segments = place(seeker, {segment({A, B}, 0.125f, 0.875f)});
    const auto& words = *segments[0].words;
    EXPECT_FLOAT_EQ(words[0].start, 0.13f);
    EXPECT_FLOAT_EQ(words[0].probability, -0.13f);
    EXPECT_FLOAT_EQ(words[1].end, 0.88f);
    EXPECT_FLOAT_EQ(words[1].probability, 0.13f);
}

TEST(WordAlignment, AddWordTimestampsAlignsHalfPrecisionWeights)
{
    testsupport::CapturedLog log(Logging::LogLevel::debug);
    const SegmentSeeker seeker;
    // Rows follow the token positions (timestamps included); the weights have a spare row and a
    // leading axis, as a decoder's output does.
    std::vector<float> values {
        1, 1, -1, -1, -1, -1, -1, -1, //
        -1, -1, 1, 1, -1, -1, -1, -1, //
        -1, -1, -1, -1, 1, 1, -1, -1, //
        -1, -1, -1, -1, -1, -1, 1, 1, //
        0, 0, 0, 0, 0, 0, 0, 0, //
    };
    const auto weights = matrix(ml::MultiArrayDataType::float16, {1, 5, 8}, values);
    auto input = segment({ts(0), A, B, ts(0.16)}, 2.0f, 2.16f);
    input.tokenLogProbs = {{{ts(0), 0.f}}, {{A, -0.5f}}, {{B, -1.0f}}, {{ts(0.16), 0.f}}};

    const auto segments = seeker.addWordTimestamps({input}, weights, tokenizer(), 32000, 480000, prependMarks,
        appendMarks, 2.0f, DecodingOptions {}, TranscriptionTimings {});
    const auto& words = *segments[0].words;
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], word(" a", {A}, 2.04f, 2.08f, 0.32f));
    EXPECT_EQ(words[1], word(" b", {B}, 2.08f, 2.12f, 0.1f));
    EXPECT_FLOAT_EQ(segments[0].start, 2.04f);
    EXPECT_FLOAT_EQ(segments[0].end, 2.12f);
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Alignment weights shape: [4, 8]"), lines.end());

    // Weights with fewer rows than tokens are not read past their end.
    const auto shortWeights = matrix(ml::MultiArrayDataType::float16, {2, 8}, std::vector<float>(values.begin(), values.begin() + 16));
    EXPECT_NO_THROW(seeker.addWordTimestamps({input}, shortWeights, tokenizer(), 32000, 480000, prependMarks,
        appendMarks, 2.0f, DecodingOptions {}, TranscriptionTimings {}));

    try {
        seeker.addWordTimestamps({input}, ml::MultiArray {}, tokenizer(), 0, 480000, prependMarks, appendMarks, 0,
            DecodingOptions {}, TranscriptionTimings {});
        FAIL() << "weights without a shape were accepted";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error, WhisperError::segmentingFailed("Invalid shape in alignmentWeights"));
    }

    // Fewer than two words: every segment gets an empty list and keeps its times.
    const auto lone = seeker.addWordTimestamps({segment({A, Ing}, 0.0f, 1.0f)}, weights, tokenizer(), 0,
        480000, prependMarks, appendMarks, 0, DecodingOptions {}, TranscriptionTimings {});
    EXPECT_TRUE(lone[0].words && lone[0].words->empty());
    EXPECT_FLOAT_EQ(lone[0].end, 1.0f);
}
