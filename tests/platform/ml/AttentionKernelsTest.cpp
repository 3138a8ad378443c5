#include "platform/ml/programs/kernels/AttentionKernels.hpp"

#include "platform/ml/Float16.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace ml;

// The self-attention cache is read channel by channel: each row holds one channel of every
// position and the slots past the cached positions hold whatever an earlier window left there.
TEST(AttentionKernels, ChannelRowsMatchThePlainSumsAndIgnoreWhatLiesPastThePositions)
{
    std::mt19937 generator(11);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    const std::uint16_t leftovers[] = {0x7c00, 0xfc00, 0x7e00}; // +inf, -inf, NaN
    for (std::size_t headWidth : {std::size_t(64), std::size_t(6)}) {
        for (std::size_t positions : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(15), std::size_t(16),
                 std::size_t(17), std::size_t(31), std::size_t(50), std::size_t(447)}) {
            const std::size_t rowStride = positions + 1 + positions % 3;
            std::vector<std::uint16_t> rows(headWidth * rowStride);
            for (std::size_t j = 0; j < headWidth; ++j) {
                for (std::size_t p = 0; p < rowStride; ++p) {
                    rows[j * rowStride + p] = p < positions ? Float16::fromFloat(uniform(generator)) : leftovers[(j + p) % 3];
                }
            }
            std::vector<float> query(headWidth), weights(positions);
            for (float& q : query) {
                q = uniform(generator);
            }
            for (float& w : weights) {
                w = uniform(generator);
            }

            std::vector<float> scores(positions + 16, -7.0f), output(headWidth, -7.0f);
            prefetchChannelRows(rows.data(), rowStride, positions, headWidth);
            scoreChannelRows(query.data(), rows.data(), rowStride, positions, headWidth, scores.data());
            weighChannelRows(weights.data(), rows.data(), rowStride, positions, headWidth, output.data());
            for (std::size_t p = 0; p < positions; ++p) {
                double expected = 0;
                for (std::size_t j = 0; j < headWidth; ++j) {
                    expected += double(query[j]) * Float16::toFloat(rows[j * rowStride + p]);
                }
                ASSERT_NEAR(scores[p], expected, 1e-5) << headWidth << " wide, " << positions << " positions, at " << p;
            }
            for (std::size_t p = positions; p < scores.size(); ++p) {
                ASSERT_EQ(scores[p], -7.0f) << "written past the positions at " << p;
            }
            for (std::size_t j = 0; j < headWidth; ++j) {
                double expected = 0;
                for (std::size_t p = 0; p < positions; ++p) {
                    expected += double(weights[p]) * Float16::toFloat(rows[j * rowStride + p]);
                }
                ASSERT_NEAR(output[j], expected, 1e-4) << headWidth << " wide, " << positions << " positions, channel " << j;
            }
        }
    }
}

// A head's attention over its cache and its own key and value, with the cache channel-major (the
// vector path) and position-major (rows one element apart, positions a head width apart).
TEST(AttentionKernels, HalfCacheAttentionMatchesThePlainSoftmaxInBothLayouts)
{
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    const std::size_t headWidth = 24;
    const float scale = 1.0f / std::sqrt(float(headWidth));
    for (std::size_t positions : {std::size_t(0), std::size_t(1), std::size_t(9), std::size_t(40)}) {
        std::vector<float> keys(headWidth * positions), values(headWidth * positions); // [channel][position]
        std::vector<float> query(headWidth), ownKey(headWidth), ownValue(headWidth), padding(positions);
        for (auto* vector : {&keys, &values, &query, &ownKey, &ownValue}) {
            for (float& v : *vector) {
                v = Float16::toFloat(Float16::fromFloat(uniform(generator)));
            }
        }
        for (std::size_t p = 0; p < positions; ++p) {
            padding[p] = p % 4 == 1 ? -10000.0f : 0.0f;
        }
        std::vector<double> expectedWeights(positions + 1);
        double largest = -1e30;
        for (std::size_t p = 0; p <= positions; ++p) {
            double score = 0;
            for (std::size_t j = 0; j < headWidth; ++j) {
                score += double(query[j]) * (p < positions ? keys[j * positions + p] : ownKey[j]);
            }
            expectedWeights[p] = score * scale + (p < positions ? padding[p] : 0.0);
            largest = std::max(largest, expectedWeights[p]);
        }
        double total = 0;
        for (double& weight : expectedWeights) {
            weight = std::exp(weight - largest);
            total += weight;
        }
        std::vector<double> expected(headWidth, 0.0);
        for (std::size_t p = 0; p <= positions; ++p) {
            expectedWeights[p] /= total;
            for (std::size_t j = 0; j < headWidth; ++j) {
                expected[j] += expectedWeights[p] * (p < positions ? values[j * positions + p] : ownValue[j]);
            }
        }

        for (const bool channelMajor : {true, false}) {
            const std::size_t rowStride = channelMajor ? positions + 3 : 1;
            const std::size_t columnStride = channelMajor ? 1 : headWidth;
            std::vector<std::uint16_t> keyCache(headWidth * (positions + 3) + 1, 0x7e00), valueCache(keyCache.size(), 0x7e00);
            for (std::size_t j = 0; j < headWidth; ++j) {
                for (std::size_t p = 0; p < positions; ++p) {
                    keyCache[j * rowStride + p * columnStride] = Float16::fromFloat(keys[j * positions + p]);
                    valueCache[j * rowStride + p * columnStride] = Float16::fromFloat(values[j * positions + p]);
                }
            }
            std::vector<float> scores(positions + 1), output(headWidth);
            attendHalfCache(query.data(), {keyCache.data(), rowStride, columnStride}, {valueCache.data(), rowStride, columnStride},
                positions, headWidth, padding.data(), scale, ownKey.data(), ownValue.data(), scores.data(), output.data());
            for (std::size_t p = 0; p <= positions; ++p) {
                ASSERT_NEAR(scores[p], expectedWeights[p], 1e-5) << positions << " positions, at " << p << ", channel-major " << channelMajor;
            }
            for (std::size_t j = 0; j < headWidth; ++j) {
                ASSERT_NEAR(output[j], expected[j], 1e-5) << positions << " positions, channel " << j << ", channel-major " << channelMajor;
            }
        }
    }
}
