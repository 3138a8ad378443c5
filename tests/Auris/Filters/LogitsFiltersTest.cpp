#include "Auris/Filters/LanguageLogitsFilter.hpp"
#include "Auris/Filters/SuppressBlankFilter.hpp"
#include "Auris/Filters/SuppressTokensFilter.hpp"
#include "Auris/Filters/TimestampRulesFilter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace auris;

namespace {

constexpr float banned = -std::numeric_limits<float>::infinity();
constexpr int vocabulary = 16;

// A small vocabulary: text 0-4 (1 is the bare space), control tokens 5-10, timestamps 11-15.
SpecialTokens smallTokens()
{
    SpecialTokens tokens;
    tokens.whitespaceToken = 1;
    tokens.endToken = 5;
    tokens.specialTokenBegin = 5;
    tokens.startOfTranscriptToken = 6;
    tokens.englishToken = 7;
    tokens.translateToken = 8;
    tokens.transcribeToken = 9;
    tokens.noTimestampsToken = 10;
    tokens.startOfPreviousToken = 4;
    tokens.noSpeechToken = 3;
    tokens.timeTokenBegin = 11;
    return tokens;
}

ml::MultiArray logitsOf(std::vector<float> values)
{
    const int count = static_cast<int>(values.size());
    return ml::MultiArray::fromValues<float>({1, 1, count}, std::span<const float>(values));
}

ml::MultiArray zeros() { return logitsOf(std::vector<float>(vocabulary, 0.0f)); }

std::vector<int> bannedPositions(const ml::MultiArray& logits)
{
    std::vector<int> positions;
    for (int i = 0; i < logits.shape()[2]; ++i) {
        if (logits.value({0, 0, i}) == banned) positions.push_back(i);
    }
    return positions;
}

} // namespace

TEST(SuppressTokensFilter, BansTheListAtEveryStepAndSkipsIdsOutsideTheVocabulary)
{
    const SuppressTokensFilter filter({2, 12, -1, vocabulary, 1000000});
    for (const std::vector<int>& tokens : {std::vector<int> {}, std::vector<int> {6, 7, 9}}) {
        auto logits = zeros();
        const auto returned = filter.filterLogits(logits, tokens);
        EXPECT_EQ(returned.dataPointer(), logits.dataPointer());
        EXPECT_EQ(bannedPositions(logits), (std::vector<int> {2, 12}));
    }

    // Positions follow the array's own strides, not a packed layout.
    ml::MultiArray strided({1, 1, 4}, ml::MultiArrayDataType::float32, {8, 8, 2});
    strided.fill(1.0);
    SuppressTokensFilter({3}).filterLogits(strided, {});
    EXPECT_EQ(strided.data<float>()[6], banned);
    EXPECT_EQ(strided.data<float>()[3], 0.0f);
    EXPECT_EQ(bannedPositions(strided), (std::vector<int> {3}));
}

TEST(SuppressBlankFilter, BansBlankAndEndOnlyAtTheFirstSampledPosition)
{
    const SuppressBlankFilter filter(smallTokens(), 3);
    auto atStart = zeros();
    filter.filterLogits(atStart, {6, 7, 9});
    EXPECT_EQ(bannedPositions(atStart), (std::vector<int> {1, 5}));

    auto later = zeros();
    filter.filterLogits(later, {6, 7, 9, 2});
    EXPECT_TRUE(bannedPositions(later).empty());
}

TEST(TimestampRulesFilter, FindsTheSampleStartFromTheTaskToken)
{
    // Text is clearly more probable than all timestamps, so only the no-timestamps token is banned.
    auto textLogits = [] {
        auto logits = zeros();
        logits.setValue({0, 0, 2}, 10.0);
        return logits;
    };
    const TimestampRulesFilter multilingual(smallTokens(), 3, std::nullopt, true);

    auto atStart = textLogits();
    multilingual.filterLogits(atStart, {6, 7, 9});
    EXPECT_EQ(bannedPositions(atStart), (std::vector<int> {10}));

    // The task token at index 0 gives k + 1 = 1, but sampleBegin 3 is larger; two tokens are too few.
    auto early = textLogits();
    TimestampRulesFilter(smallTokens(), 3, std::nullopt, true).filterLogits(early, {9, 7});
    EXPECT_TRUE(bannedPositions(early).empty());
    auto translate = textLogits();
    TimestampRulesFilter(smallTokens(), 1, std::nullopt, true).filterLogits(translate, {6, 8});
    EXPECT_EQ(bannedPositions(translate), (std::vector<int> {10}));

    // No task token among the first three: no sample start, nothing changes.
    auto noTask = textLogits();
    multilingual.filterLogits(noTask, {6, 7, 2, 9});
    EXPECT_TRUE(bannedPositions(noTask).empty());
    auto empty = textLogits();
    multilingual.filterLogits(empty, {});
    EXPECT_TRUE(bannedPositions(empty).empty());

    // An English-only model counts from sampleBegin whatever the tokens are.
    const TimestampRulesFilter english(smallTokens(), 2, 50, false);
    auto before = textLogits();
    english.filterLogits(before, {6});
    EXPECT_TRUE(bannedPositions(before).empty());
    auto from = textLogits();
    english.filterLogits(from, {2, 3});
    EXPECT_EQ(bannedPositions(from), (std::vector<int> {10}));
}

TEST(TimestampRulesFilter, ForcesATimestampOnlyWhenTimestampsTogetherOutweighTheBestTextToken)
{
    const TimestampRulesFilter filter(smallTokens(), 1, std::nullopt, false);
    auto only = [](std::initializer_list<std::pair<int, float>> entries) {
        auto logits = logitsOf(std::vector<float>(vocabulary, banned));
        for (auto [position, value] : entries) logits.setValue({0, 0, position}, value);
        return logits;
    };

    // One timestamp exactly as probable as the best text token: not above, text stays.
    auto equal = only({{2, 1.0f}, {12, 1.0f}, {10, 4.0f}});
    filter.filterLogits(equal, {6});
    EXPECT_EQ(equal.value({0, 0, 2}), 1.0);
    EXPECT_EQ(equal.value({0, 0, 10}), banned);

    // Two such timestamps together outweigh it: everything below the first timestamp is banned.
    auto above = only({{2, 1.0f}, {12, 1.0f}, {13, 1.0f}, {10, 4.0f}});
    filter.filterLogits(above, {6});
    std::vector<int> expected {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 14, 15};
    EXPECT_EQ(bannedPositions(above), expected);
    EXPECT_EQ(above.value({0, 0, 12}), 1.0);

    // The no-timestamps token is banned before the comparison, so it cannot tip it.
    auto noTimestampsHeavy = only({{2, 0.0f}, {12, 1.0f}, {10, 8.0f}});
    filter.filterLogits(noTimestampsHeavy, {6});
    EXPECT_EQ(noTimestampsHeavy.value({0, 0, 2}), banned);
    EXPECT_EQ(noTimestampsHeavy.value({0, 0, 12}), 1.0);
}

TEST(LanguageLogitsFilter, LeavesOnlyLanguageTokensAtItsSampleStart)
{
    const LanguageLogitsFilter filter({7, 9}, 12, 1);
    EXPECT_EQ(filter.nonLanguageTokenIndexes.size(), 10u);

    auto logits = zeros();
    filter.filterLogits(logits, {6});
    EXPECT_EQ(bannedPositions(logits), (std::vector<int> {0, 1, 2, 3, 4, 5, 6, 8, 10, 11}));

    auto later = zeros();
    filter.filterLogits(later, {6, 7});
    EXPECT_TRUE(bannedPositions(later).empty());

    // A filter built for a larger vocabulary than the logits hold writes nothing past their end.
    const LanguageLogitsFilter wide({7}, 64, 0);
    auto small = logitsOf(std::vector<float>(8, 0.0f));
    wide.filterLogits(small, {});
    EXPECT_EQ(bannedPositions(small), (std::vector<int> {0, 1, 2, 3, 4, 5, 6}));
}
