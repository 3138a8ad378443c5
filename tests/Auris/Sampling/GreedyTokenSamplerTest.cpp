#include "Auris/Sampling/GreedyTokenSampler.hpp"

#include "Auris/support/CapturedLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using namespace auris;

namespace {

constexpr int eot = 9;

ml::MultiArray logitsOf(std::vector<float> values)
{
    const int count = static_cast<int>(values.size());
    return ml::MultiArray::fromValues<float>({1, 1, count}, std::span<const float>(values));
}

DecodingOptions withTopK(int topK)
{
    DecodingOptions options;
    options.topK = topK;
    return options;
}

// Hands out the given values, one per draw, as the top 24 of 32 random bits.
GreedyTokenSampler::RandomSource scriptedBits(std::vector<std::uint32_t> values)
{
    return [values = std::move(values), next = std::size_t {0}]() mutable { return values.at(next++) << 8; };
}

} // namespace

TEST(GreedyTokenSampler, TakesTheArgmaxAtTemperatureZero)
{
    GreedyTokenSampler sampler(0.0f, eot, DecodingOptions {});
    const auto result = sampler.update({3, 4}, logitsOf({1.0f, 3.0f, 2.0f, 3.0f}), {0.0f, -0.5f});
    // Ties go to the first maximum; the log-probability is that of the softmax of the raw logits.
    EXPECT_EQ(result.tokens, (std::vector<int> {3, 4, 1}));
    ASSERT_EQ(result.logProbs.size(), 3u);
    EXPECT_EQ(result.logProbs[1], -0.5f);
    const double normaliser = std::log(std::exp(1.0) + 2 * std::exp(3.0) + std::exp(2.0));
    EXPECT_NEAR(result.logProbs[2], 3.0 - normaliser, 1e-6);
    EXPECT_FALSE(result.completed);

    std::vector<float> endWins(10, 0.0f);
    endWins[eot] = 5.0f;
    EXPECT_TRUE(sampler.update({}, logitsOf(endWins), {}).completed);

    // A banned (minus infinity) entry never wins and the others keep their share.
    const float banned = -std::numeric_limits<float>::infinity();
    const auto filtered = sampler.update({}, logitsOf({banned, 0.0f, 0.0f}), {});
    EXPECT_EQ(filtered.tokens, (std::vector<int> {1}));
    EXPECT_NEAR(filtered.logProbs[0], std::log(0.5), 1e-6);
}

TEST(GreedyTokenSampler, DrawsAmongTheTopKByCumulativeProbability)
{
    // Four equal scores: probabilities of exactly 0.25, walked in index order.
    const auto uniform = logitsOf({0.0f, 0.0f, 0.0f, 0.0f});
    const std::uint32_t quarter = 1u << 22;
    GreedyTokenSampler sampler(1.0f, eot, withTopK(4), scriptedBits({0, quarter - 1, quarter, 3 * quarter, (1u << 24) - 1}));
    std::vector<int> drawn;
    for (int i = 0; i < 5; ++i) {
        const auto result = sampler.update({}, uniform, {});
        drawn.push_back(result.tokens.back());
        EXPECT_NEAR(result.logProbs.back(), std::log(0.25), 1e-6);
    }
    // A draw equal to a running sum belongs to the next entry: the sum must exceed it.
    EXPECT_EQ(drawn, (std::vector<int> {0, 0, 1, 3, 3}));

    // k limits the draw to the most probable entries, whatever the random value.
    const auto skewed = logitsOf({0.0f, 2.0f, 1.0f, 3.0f});
    GreedyTokenSampler topOne(0.7f, eot, withTopK(1), scriptedBits({(1u << 24) - 1}));
    EXPECT_EQ(topOne.update({}, skewed, {}).tokens.back(), 3);
    GreedyTokenSampler topTwo(1.0f, eot, withTopK(2), scriptedBits({(1u << 24) - 1}));
    EXPECT_EQ(topTwo.update({}, skewed, {}).tokens.back(), 1);

    // A k of 0 or beyond the vocabulary is clamped instead of reading outside the vector.
    GreedyTokenSampler zero(1.0f, eot, withTopK(0), scriptedBits({(1u << 24) - 1}));
    EXPECT_EQ(zero.update({}, skewed, {}).tokens.back(), 3);
    GreedyTokenSampler huge(1.0f, eot, withTopK(1000), scriptedBits({(1u << 24) - 1}));
    EXPECT_EQ(huge.update({}, skewed, {}).tokens.back(), 0);
}

TEST(GreedyTokenSampler, ScalesByTemperatureAndFollowsTheDistribution)
{
    // At temperature 2 the logits [2, 0] become [1, 0]; the log-probability is of the scaled softmax.
    GreedyTokenSampler warm(2.0f, eot, withTopK(1));
    const auto result = warm.update({}, logitsOf({2.0f, 0.0f}), {});
    EXPECT_EQ(result.tokens.back(), 0);
    EXPECT_NEAR(result.logProbs.back(), 1.0 - std::log(std::exp(1.0) + 1.0), 1e-6);

    // A seeded source: about three draws in four take the token of probability 0.75.
    std::mt19937 generator(1234);
    GreedyTokenSampler sampler(1.0f, eot, withTopK(2), [&generator] { return static_cast<std::uint32_t>(generator()); });
    const auto logits = logitsOf({std::log(3.0f), 0.0f});
    int first = 0;
    constexpr int draws = 4000;
    for (int i = 0; i < draws; ++i) {
        first += sampler.update({}, logits, {}).tokens.back() == 0 ? 1 : 0;
    }
    EXPECT_NEAR(first / static_cast<double>(draws), 0.75, 0.03);
}

TEST(GreedyTokenSampler, EndsTheWindowOnLogitsWithoutAFiniteScore)
{
    testsupport::CapturedLog log(Logging::LogLevel::error);
    const float banned = -std::numeric_limits<float>::infinity();
    for (float temperature : {0.0f, 1.0f}) {
        GreedyTokenSampler sampler(temperature, eot, withTopK(3));
        const auto result = sampler.update({1}, logitsOf({banned, banned, std::nanf("")}), {0.0f});
        EXPECT_EQ(result.tokens, (std::vector<int> {1, eot}));
        EXPECT_TRUE(std::isinf(result.logProbs.back()));
        EXPECT_TRUE(result.completed);
    }
    ASSERT_EQ(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].rfind("Sampling error: ", 0), 0u);
}

TEST(GreedyTokenSampler, FinalizeEndsTheSequenceWithExactlyOneEndToken)
{
    GreedyTokenSampler sampler(0.0f, eot, DecodingOptions {});
    EXPECT_EQ(sampler.finalize({}, {}), (SamplingResult {{eot}, {0.0f}, true}));
    EXPECT_EQ(sampler.finalize({1, 2}, {0.0f, -1.0f}), (SamplingResult {{1, 2, eot}, {0.0f, -1.0f, 0.0f}, true}));
    EXPECT_EQ(sampler.finalize({1, eot}, {0.0f, -2.0f}), (SamplingResult {{1, eot}, {0.0f, -2.0f}, true}));
}

TEST(GreedyTokenSampler, PicksTheTopKOfAFullVocabularyWithTiesAcrossItsBlocks)
{
    // Coarse scores make many ties, some between blocks the search skips; a draw at the top of the
    // range takes the k-th entry, one at zero the first.
    std::mt19937 generator(7);
    std::uniform_int_distribution<int> coarse(0, 12);
    const std::size_t vocabulary = 51865;
    for (int trial = 0; trial < 8; ++trial) {
        std::vector<float> values(vocabulary);
        for (float& v : values) {
            v = static_cast<float>(coarse(generator)) * 0.25f;
        }
        values[trial * 6000 + 5] = std::nanf("");
        if (trial % 2) {
            // Higher scores late in the vocabulary, after the list has filled with ties.
            values[vocabulary - 3] = 4.0f;
            values[30001 + static_cast<std::size_t>(trial)] = 3.5f;
        }
        const auto logits = logitsOf(values);
        std::vector<std::size_t> order(vocabulary);
        for (std::size_t i = 0; i < vocabulary; ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const float x = std::isnan(values[a]) ? -1.0f : values[a], y = std::isnan(values[b]) ? -1.0f : values[b];
            return x > y;
        });
        for (int k : {1, 5, 64}) {
            GreedyTokenSampler sampler(1.0f, eot, withTopK(k), scriptedBits({(1u << 24) - 1, 0}));
            EXPECT_EQ(sampler.update({}, logits, {}).tokens.back(), static_cast<int>(order[static_cast<std::size_t>(k) - 1]))
                << "k " << k << " trial " << trial;
            EXPECT_EQ(sampler.update({}, logits, {}).tokens.back(), static_cast<int>(order[0])) << "k " << k;
        }
        GreedyTokenSampler greedy(0.0f, eot, DecodingOptions {});
        EXPECT_EQ(greedy.update({}, logits, {}).tokens.back(), static_cast<int>(order[0]));
    }
}
