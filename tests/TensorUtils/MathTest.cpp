#include "TensorUtils/Math.hpp"
#include "TensorUtils/MultiArrayHelpers.hpp"

#include <gtest/gtest.h>

using namespace tensorutils;

TEST(Math, SoftmaxCumsumArgmax)
{
    const auto probabilities = Math::softmax(std::vector<float> {1000, 1000, 999});
    ASSERT_EQ(probabilities.size(), 3u);
    EXPECT_NEAR(probabilities[0], probabilities[1], 1e-6);
    EXPECT_NEAR(probabilities[0] + probabilities[1] + probabilities[2], 1.0, 1e-6);
    EXPECT_TRUE(Math::softmax(std::vector<float> {}).empty());
    EXPECT_EQ(Math::cumsum(std::vector<float> {1, 2, 3}), (std::vector<float> {1, 3, 6}));

    const float values[] = {1, 5, 5};
    EXPECT_EQ(Math::argmax(values, 3), (std::pair<int, float> {1, 5.0f}));
    const double strided[] = {1, 9, 2, 9, 3, 9};
    EXPECT_EQ(Math::argmax(strided, 3, 2), (std::pair<int, double> {2, 3.0}));
    EXPECT_THROW(Math::argmax(values, 0), std::invalid_argument);

    const auto array = multiArrayFrom(std::vector<double> {0.5, 2.5, -1}, 2);
    EXPECT_EQ(Math::argmax(array), (std::pair<int, double> {1, 2.5}));
    EXPECT_THROW(Math::argmax32(array), ml::MultiArrayError);
    const auto floats32 = ml::MultiArray::fromValues<float>({3}, std::vector<float> {0, 0, 7});
    EXPECT_EQ(Math::argmax32(floats32), (std::pair<int, float> {2, 7.0f}));
}

TEST(Math, SamplingFollowsTheDrawnFraction)
{
    // The draw r lies in [0, sum): the first index whose running total exceeds r wins.
    auto fixed = [](std::uint32_t value) { return [value](std::uint32_t) { return value; }; };
    const std::vector<float> weights {1, 2, 1}; // not normalised
    EXPECT_EQ(Math::randomNumber(weights, fixed(0)), 0);
    EXPECT_EQ(Math::randomNumber(weights, fixed(0x40000000)), 1); // r = 1.0
    EXPECT_EQ(Math::randomNumber(weights, fixed(0xBFFFFFFF)), 1);
    EXPECT_EQ(Math::randomNumber(weights, fixed(0xC0000000)), 2);
    EXPECT_EQ(Math::randomNumber(std::vector<float> {0, 0}, fixed(5)), 1); // rounding leaves none: the last
    EXPECT_EQ(Math::sample(std::vector<int> {7, 8, 9}, weights, fixed(0xFFFFFFFE)), 9);
    EXPECT_THROW(Math::randomNumber(std::vector<float> {}, fixed(0)), std::invalid_argument);
    EXPECT_THROW(Math::sample(std::vector<int> {7}, weights, fixed(0xFFFFFFFE)), std::invalid_argument);

    std::uint32_t askedBound = 0;
    Math::randomNumber(weights, [&](std::uint32_t bound) {
        askedBound = bound;
        return 0u;
    });
    EXPECT_EQ(askedBound, 0xFFFFFFFFu);
    for (int i = 0; i < 100; ++i) {
        const int drawn = Math::sample(std::vector<int> {4, 5}, std::vector<float> {0, 1});
        ASSERT_EQ(drawn, 5);
    }
}

TEST(MultiArrayHelpers, CreateConvertAndSlice)
{
    const auto seven = multiArrayFrom(std::vector<int> {7});
    EXPECT_EQ(seven.shape(), std::vector<int> {1});
    EXPECT_EQ(seven.dataType(), ml::MultiArrayDataType::int32);
    EXPECT_EQ(toIntArray(seven), std::vector<int> {7});
    EXPECT_EQ(multiArrayFrom(std::vector<int> {7}, 3).shape(), (std::vector<int> {1, 1, 1}));
    const auto tokens = multiArrayFrom(std::vector<int> {50258, -1, 3}, 2);
    EXPECT_EQ(tokens.shape(), (std::vector<int> {1, 3}));
    EXPECT_EQ(toIntArray(tokens), (std::vector<int> {50258, -1, 3}));
    EXPECT_THROW(multiArrayFrom(std::vector<int> {1}, 0), std::invalid_argument);
    EXPECT_THROW(toDoubleArray(tokens), ml::MultiArrayError);

    EXPECT_FALSE(floats(tokens));
    EXPECT_EQ(floats(ml::MultiArray::fromValues<float>({2}, std::vector<float> {1.5f, 2})), (std::vector<float> {1.5f, 2}));

    const auto tensor = testTensor({2, 3, 4});
    EXPECT_EQ(toDoubleArray(tensor)[23], 23.0);
    const auto column = slice(tensor, 1, {{0, 1}, {2, 2}});
    EXPECT_EQ(column.shape(), (std::vector<int> {1, 3, 1}));
    EXPECT_EQ(toDoubleArray(column), (std::vector<double> {14, 18, 22}));
    const auto row = slice(tensor, {Indexing::select(0), Indexing::select(2), Indexing::slice()});
    EXPECT_EQ(toDoubleArray(row), (std::vector<double> {8, 9, 10, 11}));
    EXPECT_THROW(slice(tensor, {Indexing::select(0), Indexing::select(0), Indexing::select(0)}), std::invalid_argument);
    EXPECT_THROW(slice(tensor, 1, {{0, 1}}), std::invalid_argument);
    EXPECT_ANY_THROW(slice(tensor, 1, {{0, 5}, {2, 0}}));
}
