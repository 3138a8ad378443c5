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
