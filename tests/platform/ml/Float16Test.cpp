#include "platform/ml/Float16.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using ml::Float16;

TEST(Float16, ConvertsEdgeValuesExactly)
{
    EXPECT_EQ(Float16(0.0f).bits(), 0x0000);
    EXPECT_EQ(Float16(-0.0f).bits(), 0x8000);
    EXPECT_EQ(Float16(1.0f).bits(), 0x3c00);
    EXPECT_EQ(Float16(-2.0f).bits(), 0xc000);
    EXPECT_EQ(Float16(65504.0f).bits(), 0x7bff);            // largest finite
    EXPECT_EQ(Float16(6.103515625e-05f).bits(), 0x0400);    // smallest normal
    EXPECT_EQ(Float16(5.9604645e-08f).bits(), 0x0001);      // smallest subnormal
    EXPECT_EQ(Float16(-10000.0f).bits(), 0xf0e2);
    EXPECT_EQ(Float16(std::numeric_limits<float>::infinity()).bits(), 0x7c00);
    EXPECT_EQ(Float16(-std::numeric_limits<float>::infinity()).bits(), 0xfc00);

    EXPECT_TRUE(std::isnan(static_cast<float>(Float16(std::numeric_limits<float>::quiet_NaN()))));
    EXPECT_EQ(static_cast<float>(Float16::fromBits(0x0001)), 5.9604645e-08f);
    EXPECT_EQ(static_cast<float>(Float16::fromBits(0x03ff)), 6.097555e-05f); // largest subnormal
    EXPECT_EQ(static_cast<float>(Float16::fromBits(0x7bff)), 65504.0f);
}

TEST(Float16, RoundsToNearestEven)
{
    // 1 + 2^-11 lies halfway between 1 and the next half (1 + 2^-10): ties go to the even mantissa.
    EXPECT_EQ(Float16(1.0f + std::ldexp(1.0f, -11)).bits(), 0x3c00);
    EXPECT_EQ(Float16(1.0f + 3 * std::ldexp(1.0f, -11)).bits(), 0x3c02);
    EXPECT_EQ(Float16(1.0f + std::ldexp(1.0f, -11) + std::ldexp(1.0f, -20)).bits(), 0x3c01);
    // Overflow boundary: 65519 still rounds down, 65520 becomes infinity.
    EXPECT_EQ(Float16(65519.0f).bits(), 0x7bff);
    EXPECT_EQ(Float16(65520.0f).bits(), 0x7c00);
    // Subnormal boundary: half the smallest subnormal ties to zero, just above rounds up.
    EXPECT_EQ(Float16(std::ldexp(1.0f, -25)).bits(), 0x0000);
    EXPECT_EQ(Float16(std::nextafter(std::ldexp(1.0f, -25), 1.0f)).bits(), 0x0001);
    // A subnormal result that rounds up into the smallest normal.
    EXPECT_EQ(Float16(std::ldexp(1023.75f, -24)).bits(), 0x0400);
}

TEST(Float16, EveryHalfRoundTrips)
{
    for (unsigned bits = 0; bits <= 0xffff; ++bits) {
        const auto half = Float16::fromBits(static_cast<std::uint16_t>(bits));
        const float value = half;
        if (std::isnan(value)) {
            EXPECT_TRUE(std::isnan(static_cast<float>(Float16(value))));
            continue;
        }
        ASSERT_EQ(Float16(value).bits(), bits) << "bits " << bits;
    }
}
