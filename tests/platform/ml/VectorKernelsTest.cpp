#include "platform/ml/programs/kernels/VectorKernels.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace ml;

TEST(VectorKernels, MaximumAndExponentialsOfEverySetMatchThePlainLoops)
{
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> uniform(-30.0f, 30.0f);
    for (KernelSet set : {KernelSet::avx2, KernelSet::avx512}) {
        if (!supportsKernelSet(set)) {
            continue;
        }
        // Lengths around the 8- and 16-lane blocks and their doubled loops.
        for (std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(15), std::size_t(16),
                 std::size_t(17), std::size_t(33), std::size_t(1500)}) {
            std::vector<float> values(count);
            for (float& v : values) {
                v = uniform(generator);
            }
            if (count > 3) {
                values[2] = -std::numeric_limits<float>::infinity(); // a masked score
                values[count - 1] = 31.0f; // the largest sits in the tail
            }
            EXPECT_EQ(maximum(values.data(), count, set), maximum(values.data(), count, KernelSet::portable))
                << kernelSetName(set) << " " << count;

            const float top = count ? values[count - 1] : 0.0f;
            const double plainTotal = sumOfExponentials(values.data(), count, top, KernelSet::portable);
            EXPECT_NEAR(sumOfExponentials(values.data(), count, top, set), plainTotal, 1e-6 * std::max(1.0, plainTotal))
                << kernelSetName(set) << " " << count;

            const float shift = count ? maximum(values.data(), count, KernelSet::portable) * 0.5f : 0.0f;
            std::vector<float> plain = values, vector = values;
            const float plainSum = exponentiate(plain.data(), count, 0.5f, shift, KernelSet::portable);
            const float vectorSum = exponentiate(vector.data(), count, 0.5f, shift, set);
            EXPECT_NEAR(vectorSum, plainSum, 1e-5f * std::max(1.0f, plainSum)) << kernelSetName(set) << " " << count;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_NEAR(vector[i], plain[i], 4e-7f * std::max(1.0f, plain[i])) << kernelSetName(set) << " " << count << " at " << i;
            }
        }
    }
}

TEST(VectorKernels, ScaledArgMaximumFindsTheFirstLargestWithNaNAsMinusInfinityInEverySet)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float lowest = -std::numeric_limits<float>::infinity();
    std::mt19937 generator(11);
    // Coarse values so that ties are common; the scale rounds some neighbours onto one value.
    std::uniform_int_distribution<int> coarse(-40, 40);
    for (KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512}) {
        if (!supportsKernelSet(set)) {
            continue;
        }
        for (std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(8), std::size_t(17),
                 std::size_t(33), std::size_t(51865)}) {
            for (int trial = 0; trial < 6; ++trial) {
                std::vector<float> x(count);
                for (float& v : x) {
                    v = static_cast<float>(coarse(generator)) * 0.25f;
                }
                if (count > 0 && trial == 1) {
                    std::fill(x.begin(), x.end(), nan); // nothing to choose: the first index
                }
                if (count > 2 && trial == 2) {
                    x[count - 1] = 99.0f; // the largest in the tail
                    x[count / 2] = nan;
                }
                if (count > 2 && trial == 3) {
                    std::fill(x.begin(), x.end(), lowest);
                    x[count - 2] = 0.0f;
                    x[count - 1] = -0.0f; // equal to zero: the first zero wins
                }
                const float scale = trial % 2 ? 1.0f : 1.0f / 0.7f;
                std::vector<float> y(count, 1.0f);
                const std::size_t found = scaledArgMaximum(x.data(), y.data(), count, scale, set);
                std::size_t expected = 0;
                for (std::size_t i = 0; i < count; ++i) {
                    const float v = x[i] * scale;
                    ASSERT_EQ(y[i], std::isnan(v) ? lowest : v) << kernelSetName(set) << " " << count << " at " << i;
                    if (y[i] > y[expected]) {
                        expected = i;
                    }
                }
                EXPECT_EQ(found, expected) << kernelSetName(set) << " " << count << " trial " << trial;
            }
        }
    }
}

TEST(VectorKernels, GeluWithAndWithoutBiasMatchesTheErrorFunctionInEverySet)
{
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> uniform(-9.0f, 9.0f);
    for (KernelSet set : {KernelSet::portable, KernelSet::avx2, KernelSet::avx512}) {
        if (!supportsKernelSet(set)) {
            continue;
        }
        for (std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(9), std::size_t(16), std::size_t(37)}) {
            std::vector<float> values(count), bias(count);
            for (std::size_t i = 0; i < count; ++i) {
                values[i] = uniform(generator);
                bias[i] = uniform(generator) * 0.25f;
            }
            for (bool biased : {false, true}) {
                std::vector<float> x = values;
                biasGelu(x.data(), biased ? bias.data() : nullptr, count, set);
                for (std::size_t i = 0; i < count; ++i) {
                    const double v = static_cast<double>(values[i]) + (biased ? bias[i] : 0.0f);
                    const double expected = 0.5 * v * (1.0 + std::erf(v / std::sqrt(2.0)));
                    ASSERT_NEAR(x[i], expected, 1e-6 * std::max(1.0, std::abs(v)))
                        << kernelSetName(set) << " " << count << " at " << i << (biased ? " with bias" : "");
                }
            }
        }
    }
}
