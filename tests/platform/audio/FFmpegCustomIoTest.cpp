#include "platform/audio/FFmpegCustomIo.hpp"

#include <gtest/gtest.h>

#include <cstdio>

using platform::ffmpeg::seekStream;

TEST(FFmpegCustomIo, SeeksMoveThePositionWithinTheStreamAndRefuseTheRest)
{
    std::int64_t position = 10;
    EXPECT_EQ(seekStream(position, 100, 0, AVSEEK_SIZE), 100);
    EXPECT_EQ(position, 10);
    EXPECT_EQ(seekStream(position, 100, 40, SEEK_SET), 40);
    EXPECT_EQ(seekStream(position, 100, 5, SEEK_CUR), 45);
    EXPECT_EQ(seekStream(position, 100, -20, SEEK_END | AVSEEK_FORCE), 80);
    EXPECT_EQ(position, 80);
    // Past the end is allowed, as a write there grows the stream.
    EXPECT_EQ(seekStream(position, 100, 50, SEEK_END), 150);

    position = 7;
    EXPECT_EQ(seekStream(position, 100, -8, SEEK_CUR), AVERROR(EINVAL));
    EXPECT_EQ(seekStream(position, 100, 0, 42), AVERROR(EINVAL));
    EXPECT_EQ(position, 7);
}
