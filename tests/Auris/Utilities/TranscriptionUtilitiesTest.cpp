#include "Auris/Utilities/TranscriptionUtilities.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace auris;

namespace {

std::vector<WordTiming> wordsOf(std::vector<std::string> texts)
{
    std::vector<WordTiming> words;
    float start = 0;
    for (auto& text : texts) {
        words.push_back({std::move(text), {}, start, start + 1, 1});
        start += 1;
    }
    return words;
}

std::vector<std::string> textsOf(const std::vector<WordTiming>& words)
{
    std::vector<std::string> texts;
    for (const auto& word : words) texts.push_back(word.word);
    return texts;
}

} // namespace

TEST(TranscriptionUtilities, SegmentLinesAndLookup)
{
    const std::vector<TranscriptionSegment> segments {
        {.start = 0.004f, .end = 1.235f, .text = " One"}, {.start = 2, .end = 3, .text = " Two"}};
    EXPECT_EQ(formatSegments(segments), (std::vector<std::string> {" One", " Two"}));
    EXPECT_EQ(formatSegments(segments, true), (std::vector<std::string> {"[0.00 --> 1.24]  One", "[2.00 --> 3.00]  Two"}));

    EXPECT_TRUE(contains(segments, TranscriptionSegment {.start = 2, .text = "other"}));
    EXPECT_FALSE(contains(segments, TranscriptionSegment {.start = 2.0001f}));
    const std::vector<TranscriptionSegment> withNaN {{.start = std::nanf("")}};
    EXPECT_FALSE(contains(withNaN, withNaN[0]));

    const std::vector<Outcome<int>> outcomes {Outcome<int>::success(1),
        Outcome<int>::failure(std::make_exception_ptr(std::runtime_error("missing"))), Outcome<int>::success(3)};
    EXPECT_EQ(resultsDroppingFailures(outcomes), (std::vector<std::optional<int>> {1, std::nullopt, 3}));
}

TEST(TranscriptionUtilities, CommonPrefixComparesNormalisedWords)
{
    const auto confirmed = wordsOf({" Hello", " world,", " state-of-the-art", " end"});
    const auto hypothesis = wordsOf({" hello!", "  World", " State of   the ART", " fin", " end"});
    const auto prefix = findLongestCommonPrefix(confirmed, hypothesis);
    // Words come from the second list.
    EXPECT_EQ(textsOf(prefix), (std::vector<std::string> {" hello!", "  World", " State of   the ART"}));
    EXPECT_EQ(textsOf(findLongestDifferentSuffix(confirmed, hypothesis)), (std::vector<std::string> {" fin", " end"}));

    EXPECT_EQ(textsOf(findLongestCommonPrefix(wordsOf({" \xC3\x89T\xC3\x89"}), wordsOf({"\xC3\xA9t\xC3\xA9."}))).size(), 1u);
    EXPECT_TRUE(findLongestCommonPrefix({}, hypothesis).empty());
    EXPECT_EQ(findLongestDifferentSuffix({}, hypothesis).size(), hypothesis.size());
    EXPECT_TRUE(findLongestDifferentSuffix(hypothesis, {}).empty());
}

TEST(TranscriptionUtilities, MergeGathersSegmentsLanguageTimingsAndText)
{
    TranscriptionResult first {.text = " First part.", .segments = {{.id = 0, .text = " First part."}}, .language = "sk"};
    first.timings.pipelineStart = 10;
    first.timings.firstTokenTime = 11;
    first.timings.inputAudioSeconds = 30;
    first.timings.fullPipeline = 2;
    first.timings.totalDecodingLoops = 20;
    TranscriptionResult second {.text = " Second.", .segments = {{.id = 0, .text = " Second."}, {.id = 1}}, .language = "de"};
    second.timings.pipelineStart = 12;
    second.timings.firstTokenTime = 12.5;
    second.timings.inputAudioSeconds = 5;
    second.timings.fullPipeline = 1;
    second.timings.totalDecodingLoops = 4;

    const auto merged = mergeTranscriptionResults({std::nullopt, first, std::nullopt, second});
    EXPECT_EQ(merged.segments.size(), 3u);
    EXPECT_EQ(merged.segments[1].text, " Second.");
    EXPECT_EQ(merged.language, "sk");
    EXPECT_EQ(merged.text, " First part.  Second.");
    EXPECT_EQ(merged.timings.pipelineStart, 10);
    EXPECT_EQ(merged.timings.firstTokenTime, 11);
    EXPECT_EQ(merged.timings.inputAudioSeconds, 35);
    EXPECT_EQ(merged.timings.fullPipeline, 3);
    EXPECT_EQ(merged.timings.totalDecodingLoops, 24);
    EXPECT_FALSE(merged.seekTime);

    const auto confirmed = mergeTranscriptionResults({first}, wordsOf({"Hello", "there"}));
    EXPECT_EQ(confirmed.text, "Hello there");

    const auto none = mergeTranscriptionResults({std::nullopt});
    EXPECT_EQ(none.language, "en");
    EXPECT_TRUE(none.segments.empty());
    EXPECT_EQ(none.text, "");
    EXPECT_EQ(none.timings, TranscriptionTimings {});
}
