#include "platform/system/NumberText.hpp"

#include <gtest/gtest.h>

TEST(NumberText, ByteCountsReadAsFileSizes)
{
    using platform::byteCountText;
    EXPECT_EQ(byteCountText(0), "Zero KB");
    EXPECT_EQ(byteCountText(1), "1 byte");
    EXPECT_EQ(byteCountText(999), "999 bytes");
    EXPECT_EQ(byteCountText(1000), "1 KB");
    EXPECT_EQ(byteCountText(40'400), "40 KB");
    EXPECT_EQ(byteCountText(150'000'000), "150 MB");
    EXPECT_EQ(byteCountText(165'000'001), "165 MB");
    EXPECT_EQ(byteCountText(12'345'678), "12.3 MB");
    EXPECT_EQ(byteCountText(999'960'000), "1 GB");
    EXPECT_EQ(byteCountText(1'500'000'000), "1.5 GB");
    EXPECT_EQ(byteCountText(1'234'567'890), "1.23 GB");
    EXPECT_EQ(byteCountText(UINT64_MAX), "18.45 EB");
}
