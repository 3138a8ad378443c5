#include "platform/ml/MultiArray.hpp"

#include <cmath>
#include <gtest/gtest.h>

using ml::MultiArray;
using ml::MultiArrayDataType;

TEST(MultiArray, PackedArraysAreZeroedAndRowMajor)
{
    MultiArray array({2, 3, 4}, MultiArrayDataType::float32);
    EXPECT_EQ(array.count(), 24u);
    EXPECT_EQ(array.strides(), (std::vector<int> {12, 4, 1}));
    EXPECT_TRUE(array.isPacked());
    for (std::size_t i = 0; i < array.count(); ++i) {
        EXPECT_EQ(array[i], 0.0);
    }
    array.setValue({1, 2, 3}, 7.5);
    EXPECT_EQ(array.data<float>()[23], 7.5f);
    EXPECT_EQ(array[23], 7.5);
    EXPECT_THROW(array.data<ml::Float16>(), ml::MultiArrayError);
    EXPECT_THROW(array.value({2, 0, 0}), ml::MultiArrayError);
    EXPECT_THROW(array.value({0, 0}), ml::MultiArrayError);
    EXPECT_THROW(array[24], ml::MultiArrayError);
}

TEST(MultiArray, ExplicitStridesAddressTheRightElements)
{
    // A [2, 3] view whose rows are 8 elements apart, as a padded buffer would be.
    MultiArray array({2, 3}, MultiArrayDataType::int32, {8, 1});
    EXPECT_FALSE(array.isPacked());
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            array.setValue({row, column}, row * 10 + column);
        }
    }
    EXPECT_EQ(array.data<std::int32_t>()[8 + 2], 12);
    EXPECT_EQ(array.offsetOfLinear(4), 9u);
    EXPECT_EQ(array.toFloats(), (std::vector<float> {0, 1, 2, 10, 11, 12}));
    std::vector<float> scratch;
    const float* viewed = array.floatsInPlace(scratch);
    EXPECT_EQ(std::vector<float>(viewed, viewed + 6), (std::vector<float> {0, 1, 2, 10, 11, 12}));

    // Packed float32 is read where it lies; nothing is copied.
    MultiArray floats({2, 3}, MultiArrayDataType::float32);
    std::vector<float> unused;
    EXPECT_EQ(floats.floatsInPlace(unused), floats.data<float>());
    EXPECT_TRUE(unused.empty());

    const MultiArray packed = array.copy();
    EXPECT_TRUE(packed.isPacked());
    EXPECT_EQ(packed.data<std::int32_t>()[4], 11);

    array.fill(3);
    EXPECT_EQ(array.toFloats(), std::vector<float>(6, 3));
    EXPECT_EQ(array.data<std::int32_t>()[3], 0) << "padding between rows is left alone";
}

TEST(MultiArray, CopiesOfTheHandleShareStorage)
{
    MultiArray a({4}, MultiArrayDataType::float16);
    MultiArray b = a;
    b.setLinear(2, -10000);
    EXPECT_EQ(a[2], -10000.0);
    MultiArray c = a.copy();
    c.setLinear(2, 1);
    EXPECT_EQ(a[2], -10000.0);
}

TEST(MultiArray, IntegerStoresSaturateInsteadOfOverflowing)
{
    MultiArray a({3}, MultiArrayDataType::int32);
    a.setLinear(0, 1e12);
    a.setLinear(1, -1e12);
    a.setLinear(2, std::nan(""));
    EXPECT_EQ(a.data<std::int32_t>()[0], 2147483647);
    EXPECT_EQ(a.data<std::int32_t>()[1], -2147483647 - 1);
    EXPECT_EQ(a.data<std::int32_t>()[2], 0);
}

TEST(MultiArray, RejectsInvalidShapes)
{
    EXPECT_THROW(MultiArray({-1}, MultiArrayDataType::float32), ml::MultiArrayError);
    EXPECT_THROW(MultiArray({2, 2}, MultiArrayDataType::float32, {1}), ml::MultiArrayError);
    EXPECT_THROW(MultiArray({2, 2}, MultiArrayDataType::float32).reshaped({5}), ml::MultiArrayError);
    MultiArray empty({0, 5}, MultiArrayDataType::float32);
    EXPECT_EQ(empty.count(), 0u);
    EXPECT_TRUE(empty.toFloats().empty());

    // Strides past int are refused; the outermost dimension sets none, so it may take any size.
    EXPECT_EQ(ml::packedStrides({1090569985, 4, 0}), (std::vector<int> {4, 1, 1}));
    EXPECT_EQ(ml::packedStrides({2147483647}), (std::vector<int> {1}));
    EXPECT_THROW(ml::packedStrides({0, 65536, 65536}), ml::MultiArrayError);
    EXPECT_THROW(MultiArray({0, 2147483647, 2147483647, 2147483647}, MultiArrayDataType::float32), ml::MultiArrayError);
}
